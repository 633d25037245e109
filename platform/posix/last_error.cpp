#include "platform/last_error.h"

#include <cerrno>

namespace plat {

uint32_t lastError() {
    return static_cast<uint32_t>(errno);
}
void setLastError(uint32_t code) {
    errno = static_cast<int>(code);
}

}  // namespace plat
