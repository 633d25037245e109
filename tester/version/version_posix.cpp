#include "tester/version/version.h"

#include <sys/utsname.h>

// An ELF program carries no version record: the build writes the project's
// version (major.minor.patch.build) into the program itself.
bool ReadProgramVersion() {
    SetVersionFromWords(VESK_VERSION_MAJOR << 16 | VESK_VERSION_MINOR,
                        VESK_VERSION_PATCH << 16 | VESK_VERSION_BUILD);
    return true;
}

// The kernel's name at run time rather than the build's target: the same
// program says "Linux" on Linux, and whatever another POSIX kernel calls
// itself there.
std::string PlatformName() {
    struct utsname names {};
    if (uname(&names) != 0 || names.sysname[0] == '\0') return "POSIX";
    return names.sysname;
}
