#include "tester/demo/line_format.h"

namespace demo {

uint32_t LineFormat::bitsPerChar() const {
    return frameBits(dataBits, parity, stopBits);
}

int64_t charTimeNs(uint32_t baud, uint32_t bitsPerChar) {
    if (baud == 0 || bitsPerChar == 0) return 0;
    return static_cast<int64_t>(bitsPerChar) * 1000000000LL / baud;
}

}  // namespace demo
