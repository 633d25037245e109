// Calls every export through qelnet.h and the import library. Built with
// the Windows library so that a broken import library (32-bit names that
// do not resolve) fails the build; run, it only checks that the library
// loads and refuses a null handle.
#include "netserial/qelnet.h"

int main() {
    DWORD word = 0;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    COMSTAT stat{};
    char byte = 0;
    HANDLE none = nullptr;
    int refused = 0;
    refused += QnCreateFile("", 0, 0, nullptr, 0, 0, nullptr) == INVALID_HANDLE_VALUE;
    refused += !QnCloseHandle(none);
    refused += !QnReadFile(none, &byte, 1, &word, nullptr);
    refused += !QnWriteFile(none, &byte, 1, &word, nullptr);
    refused += !QnSetCommState(none, &dcb);
    refused += !QnGetCommState(none, &dcb);
    refused += !QnSetCommTimeouts(none, &timeouts);
    refused += !QnGetCommTimeouts(none, &timeouts);
    refused += !QnPurgeComm(none, 0);
    refused += !QnClearCommError(none, &word, &stat);
    refused += !QnSetCommMask(none, 0);
    refused += !QnGetCommMask(none, &word);
    refused += !QnWaitCommEvent(none, &word, nullptr);
    refused += !QnGetCommModemStatus(none, &word);
    refused += !QnEscapeCommFunction(none, 0);
    refused += !QnSetCommBreak(none);
    refused += !QnClearCommBreak(none);
    refused += QnSetupComm(none, 0, 0) != 0;
    refused += QnSetCommConfig(none, nullptr, 0) != 0;
    return refused == 19 ? 0 : 1;
}
