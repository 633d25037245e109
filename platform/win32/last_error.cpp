#include "platform/last_error.h"

#include "platform/win32_types.h"

namespace plat {

uint32_t lastError() {
    return GetLastError();
}
void setLastError(uint32_t code) {
    SetLastError(code);
}

uint32_t ownErrorsSet() {
    return 0;
}

void settleSystemError(uint32_t) {}

void setSystemError(uint32_t code) {
    SetLastError(code);
}

Error currentError() {
    return Error{GetLastError(), false};
}

void restoreError(const Error& error) {
    SetLastError(error.code);
}

std::string errorText(uint32_t code) {
    char buffer[512] = "";
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) return "error " + std::to_string(code);
    return text;
}

std::string win32ErrorText(uint32_t code) {
    return errorText(code);
}

}  // namespace plat
