#include "tester/port/line_rate.h"

double CharacterBits(uint32_t byteSize, uint32_t parity, uint32_t stopBits) {
    const double stop = stopBits == ONE5STOPBITS ? 1.5 : stopBits == TWOSTOPBITS ? 2.0 : 1.0;
    return 1.0 + byteSize + (parity != NOPARITY ? 1.0 : 0.0) + stop;
}

double LineBytesPerSecond(const DCB& dcb) {
    return dcb.BaudRate / CharacterBits(dcb.ByteSize, dcb.Parity, dcb.StopBits);
}
