// A stand-in for the network serial library: the nine exports the tester
// binds, each recording how it was called. Built twice, whole and without
// QnClearCommError, to test the binding.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

enum FakeQnExport {
    kFakeCreate,
    kFakeClose,
    kFakeRead,
    kFakeWrite,
    kFakeSetState,
    kFakeGetState,
    kFakeSetTimeouts,
    kFakePurge,
    kFakeClearError,
    kFakeExportCount
};

struct FakeQnRecord {
    int calls[kFakeExportCount];
    char name[128];
    DWORD access, shareMode, disposition, flags;
    LPVOID security;
    HANDLE templateFile;
    HANDLE handle;
    const void* buffer;
    DWORD count;
    LPVOID overlapped;
    DWORD baudRate;
    DWORD readConstant;
    DWORD purgeFlags;
};

// What a successful QnCreateFile returns.
#define FAKE_QN_HANDLE ((HANDLE)(intptr_t)0x5150)

using FakeQnStateFn = FakeQnRecord* (*)();
