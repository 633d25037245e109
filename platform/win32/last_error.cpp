#include "platform/last_error.h"

#include "platform/win32_types.h"

namespace plat {

uint32_t lastError() {
    return GetLastError();
}
void setLastError(uint32_t code) {
    SetLastError(code);
}

}  // namespace plat
