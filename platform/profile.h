// INI ("profile") files, with the contract of the Win32 profile service.
//
// - readInt: a missing file, section or key, or an empty value, gives the
//   default; otherwise the value's leading decimal integer (optional sign;
//   text that does not start with a number reads as 0), as a 32-bit number:
//   negative values come back as their two's complement.
// - writeString: creates the file, section and key when missing; an existing
//   key's value is replaced where it stands; every other line is kept.
// - readSection: every entry line of the section in file order, each line
//   whole ("key=value" lines included), each ended by a zero byte, one more
//   zero byte after the last; returns the bytes stored without that last
//   zero, 0 when the section is missing or empty. Text beyond the buffer is
//   dropped.
// Section and key names match without regard to case; blanks around them and
// around values are ignored.
//
// A path without any directory part names a file in the current directory
// (the Win32 service would look in the Windows folder).
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

uint32_t profileReadInt(const char* section, const char* key, int32_t defaultValue,
                        const char* path);

bool profileWriteString(const char* section, const char* key, const char* value, const char* path);

uint32_t profileReadSection(const char* section, char* buffer, uint32_t size, const char* path);

}  // namespace plat
