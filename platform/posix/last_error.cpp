#include "platform/last_error.h"

#include <cerrno>
#include <cstring>

#include "platform/win32_types.h"

namespace plat {

namespace {

// The Win32 code this thread last set, while it has not been replaced.
thread_local uint32_t noted = 0;
thread_local bool notedValid = false;
thread_local uint32_t setCount = 0;

}  // namespace

uint32_t lastError() {
    return static_cast<uint32_t>(errno);
}
void setLastError(uint32_t code) {
    errno = static_cast<int>(code);
    noted = code;
    notedValid = true;
    ++setCount;
}

uint32_t ownErrorsSet() {
    return setCount;
}

void settleSystemError(uint32_t count) {
    if (setCount == count) notedValid = false;
}

Error currentError() {
    const auto code = static_cast<uint32_t>(errno);
    return Error{code, !(notedValid && noted == code)};
}

void setSystemError(uint32_t code) {
    errno = static_cast<int>(code);
    notedValid = false;
}

void restoreError(const Error& error) {
    if (error.system)
        setSystemError(error.code);
    else
        setLastError(error.code);
}

std::string errorText(uint32_t code) {
    char buffer[256] = "";
    // The GNU strerror_r: returns the text, which may or may not be in
    // `buffer`.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (!text || !*text) return "error " + std::to_string(code);
    return text;
}

std::string win32ErrorText(uint32_t code) {
    // Windows' own wording, shortened to the part that says what happened.
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified";
        case ERROR_ACCESS_DENIED:
            return "Access is denied";
        case ERROR_INVALID_HANDLE:
            return "The handle is invalid";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory resources are available to process this command";
        case ERROR_GEN_FAILURE:
            return "A device attached to the system is not functioning";
        case ERROR_NOT_READY:
            return "The device is not ready";
        case ERROR_NOT_SUPPORTED:
            return "The request is not supported";
        case ERROR_NETNAME_DELETED:
            return "The specified network name is no longer available";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect";
        case ERROR_SEM_TIMEOUT:
            return "The semaphore timeout period has expired";
        case ERROR_OPERATION_ABORTED:
            return "The I/O operation has been aborted because of either a thread exit or an "
                   "application request";
        case ERROR_CONNECTION_ABORTED:
            return "The network connection was aborted by the local system";
        default:
            return std::string();
    }
}

}  // namespace plat
