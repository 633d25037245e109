/*
 * A program of a library user: C, built against the installed qelnet.h
 * alone and linked with the installed library as pkg-config names them.
 * It opens a device server's port whose serial line has a loop-back plug,
 * sets the line, writes every byte value (255, the Telnet escape,
 * included), reads all of it back and compares.
 *
 *   qelnet_loopback 127.0.0.1:PORT
 *
 * Exit 0 when every byte came back in order, 1 otherwise (with the reason).
 */
#include <qelnet.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

enum { kBytes = 4096, kDeadlineSeconds = 20 };

static int fail(const char* what) {
    fprintf(stderr, "qelnet_loopback: %s (error %d)\n", what, errno);
    return 1;
}

int main(int argc, char** argv) {
    static unsigned char sent[kBytes], received[kBytes];
    DCB dcb;
    COMMTIMEOUTS timeouts;
    DWORD done = 0, got = 0, errors = 0;
    HANDLE port;
    time_t deadline;
    int i;

    if (argc != 2) {
        fprintf(stderr, "usage: qelnet_loopback a.b.c.d:port\n");
        return 2;
    }
    port = QnCreateFile(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (port == INVALID_HANDLE_VALUE) return fail("QnCreateFile");

    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!QnGetCommState(port, &dcb)) return fail("QnGetCommState");
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (!QnSetCommState(port, &dcb)) return fail("QnSetCommState");

    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadTotalTimeoutConstant = 200;
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!QnSetCommTimeouts(port, &timeouts)) return fail("QnSetCommTimeouts");
    if (!QnPurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) return fail("QnPurgeComm");

    for (i = 0; i < kBytes; ++i)
        sent[i] = (unsigned char)(i * 7 + i / 256);
    if (!QnWriteFile(port, sent, kBytes, &done, NULL) || done != kBytes) return fail("QnWriteFile");

    deadline = time(NULL) + kDeadlineSeconds;
    while (got < kBytes && time(NULL) < deadline) {
        DWORD n = 0;
        if (!QnReadFile(port, received + got, kBytes - got, &n, NULL)) return fail("QnReadFile");
        got += n;
    }
    if (got != kBytes) {
        fprintf(stderr, "qelnet_loopback: %lu of %d bytes came back\n", (unsigned long)got, kBytes);
        return 1;
    }
    if (memcmp(sent, received, kBytes) != 0) {
        for (i = 0; i < kBytes && sent[i] == received[i]; ++i) {
        }
        fprintf(stderr, "qelnet_loopback: byte %d differs: sent %u, received %u\n", i, sent[i],
                received[i]);
        return 1;
    }
    if (!QnClearCommError(port, &errors, NULL)) return fail("QnClearCommError");
    if (errors != 0) {
        fprintf(stderr, "qelnet_loopback: line errors 0x%lx\n", (unsigned long)errors);
        return 1;
    }
    if (!QnCloseHandle(port)) return fail("QnCloseHandle");
    printf("qelnet_loopback: %d bytes (every value, 255 included) went out and came back\n",
           kBytes);
    return 0;
}
