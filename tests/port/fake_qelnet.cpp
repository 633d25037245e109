#include "tests/port/fake_qelnet.h"

#include <cstring>

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
FakeQnRecord record;
}

FAKE_EXPORT FakeQnRecord* FakeQnState() {
    return &record;
}

FAKE_EXPORT HANDLE WINAPI QnCreateFile(LPCSTR name, DWORD access, DWORD shareMode, LPVOID security,
                                       DWORD disposition, DWORD flags, HANDLE templateFile) {
    ++record.calls[kFakeCreate];
    std::strncpy(record.name, name, sizeof record.name - 1);
    record.access = access;
    record.shareMode = shareMode;
    record.security = security;
    record.disposition = disposition;
    record.flags = flags;
    record.templateFile = templateFile;
    return FAKE_QN_HANDLE;
}

FAKE_EXPORT BOOL WINAPI QnCloseHandle(HANDLE handle) {
    ++record.calls[kFakeClose];
    record.handle = handle;
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got,
                                   LPVOID overlapped) {
    ++record.calls[kFakeRead];
    record.handle = handle;
    record.buffer = buffer;
    record.count = count;
    record.overlapped = overlapped;
    *got = count < 3 ? count : 3;
    std::memset(buffer, 'r', *got);
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD sent,
                                    LPVOID overlapped) {
    ++record.calls[kFakeWrite];
    record.handle = handle;
    record.buffer = buffer;
    record.count = count;
    record.overlapped = overlapped;
    *sent = count;
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnSetCommState(HANDLE handle, LPDCB dcb) {
    ++record.calls[kFakeSetState];
    record.handle = handle;
    record.baudRate = dcb->BaudRate;
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnGetCommState(HANDLE handle, LPDCB dcb) {
    ++record.calls[kFakeGetState];
    record.handle = handle;
    dcb->BaudRate = 4321;
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    ++record.calls[kFakeSetTimeouts];
    record.handle = handle;
    record.readConstant = timeouts->ReadTotalTimeoutConstant;
    return TRUE;
}

FAKE_EXPORT BOOL WINAPI QnPurgeComm(HANDLE handle, DWORD flags) {
    ++record.calls[kFakePurge];
    record.handle = handle;
    record.purgeFlags = flags;
    return TRUE;
}

#ifndef FAKE_QN_PARTIAL
FAKE_EXPORT BOOL WINAPI QnClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
    ++record.calls[kFakeClearError];
    record.handle = handle;
    *errors = CE_FRAME;
    status->cbInQue = 7;
    return TRUE;
}
#endif
