#include "tester/version/version.h"

// An ELF program carries no version record: the build writes the project's
// version (major.minor.patch.build) into the program itself.
bool ReadProgramVersion() {
    SetVersionFromWords(VESK_VERSION_MAJOR << 16 | VESK_VERSION_MINOR,
                        VESK_VERSION_PATCH << 16 | VESK_VERSION_BUILD);
    return true;
}
