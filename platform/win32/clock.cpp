#include "platform/clock.h"

#include "platform/win32_types.h"

namespace plat {

uint32_t tickCount() {
    return GetTickCount();
}
void sleepMs(uint32_t ms) {
    Sleep(ms);
}
void yieldThread() {
    Sleep(0);
}

}  // namespace plat
