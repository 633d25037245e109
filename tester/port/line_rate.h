// What a line's settings let through: the bits of one character and the
// characters per second at the port's speed. The rate check judges ports
// against it, and a paced reader bounds its pauses by it.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

// Bits one character takes on the line: a start bit, the data bits, a
// parity bit unless the parity is NOPARITY, and the stop bits (ONESTOPBIT
// 1, ONE5STOPBITS 1.5, TWOSTOPBITS 2).
double CharacterBits(uint32_t byteSize, uint32_t parity, uint32_t stopBits);

// Bytes per second a line with these settings carries at most; 0 for a
// speed of 0.
double LineBytesPerSecond(const DCB& dcb);
