// Line settings, read time-outs, events, modem status and the common rules
// of the exports, against the in-process device server.
#include "tests/netserial/net_test.h"

#include "platform/last_error.h"

#include <cstring>
#include <future>
#include <thread>

using namespace qtest;
using qelnet::telnet::IAC;
using qelnet::telnet::SB;
using qelnet::telnet::SE;
using Commands = std::vector<ComPortCommand>;

namespace {

DCB lineSettings(DWORD baud, BYTE size, BYTE parity, BYTE stop) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return dcb;
}

// SET-CONTROL v.
ComPortCommand control(uint8_t v) {
    return Command(5, {v});
}

// Writes one byte of payload as an end marker and returns the commands the
// server received before it: whatever the calls before it sent, and nothing
// more. Commands and payload travel in one stream, in order, and the
// library sends no payload of its own, so nothing under test can pass for
// the marker (a command could: a clear of the break, sent by a test and by
// the marker alike, once ended the wait before the test's last commands).
Commands commandsBefore(HANDLE h, DeviceServer& server) {
    const size_t at = server.payload().size();
    const uint8_t marker = 'M';
    DWORD sent = 0;
    EXPECT_TRUE(QnWriteFile(h, &marker, 1, &sent, nullptr));
    if (!server.waitPayload(at + 1)) return {Command(0xEE)};
    Commands all = server.commands();
    server.forget();
    return all;
}

}  // namespace

class SerialSettings : public NetTest {};

TEST_F(SerialSettings, FirstCallSendsEverySettingThenOnlyWhatChanged) {
    DeviceServer server;
    HANDLE h = openOn(server);
    DCB dcb = lineSettings(9600, 8, NOPARITY, ONESTOPBIT);
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(commandsBefore(h, server),
              (Commands{Command(1, {0, 0, 37, 128}), Command(2, {8}), Command(3, {1}),
                        Command(4, {1}), control(1), control(11), control(8)}));
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(commandsBefore(h, server), (Commands{control(1), control(11), control(8)}));
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONE5STOPBITS;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(commandsBefore(h, server),
              (Commands{Command(3, {3}), Command(4, {3}), control(1), control(11), control(8)}));
    // Rates off the classic list go as they are.
    for (DWORD rate : {14400u, 230400u, 921600u}) {
        dcb.BaudRate = rate;
        ASSERT_TRUE(QnSetCommState(h, &dcb)) << rate;
        EXPECT_EQ(commandsBefore(h, server),
                  (Commands{Command(1, {0, uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)}),
                            control(1), control(11), control(8)}));
    }
    QnCloseHandle(h);
}

TEST_F(SerialSettings, RefusedValuesSendNothing) {
    DeviceServer server;
    HANDLE h = openOn(server);
    DCB good = lineSettings(115200, 8, NOPARITY, ONESTOPBIT);
    DCB zero = lineSettings(0, 8, NOPARITY, ONESTOPBIT);
    EXPECT_FALSE(QnSetCommState(h, &zero));
    EXPECT_EQ(commandsBefore(h, server), Commands{});
    // A refusal in the middle keeps what went before and leaves the "send
    // everything" state: the next good call sends all four again.
    DCB badSize = lineSettings(115200, 9, NOPARITY, ONESTOPBIT);
    EXPECT_FALSE(QnSetCommState(h, &badSize));
    EXPECT_EQ(commandsBefore(h, server), (Commands{Command(1, {0, 1, 194, 0})}));
    ASSERT_TRUE(QnSetCommState(h, &good));
    EXPECT_EQ(commandsBefore(h, server).size(), 7u);
    for (DCB bad : {lineSettings(115200, 4, NOPARITY, ONESTOPBIT),
                    lineSettings(115200, 8, 5, ONESTOPBIT), lineSettings(115200, 8, 0, 3)}) {
        EXPECT_FALSE(QnSetCommState(h, &bad));
        EXPECT_EQ(commandsBefore(h, server), Commands{});
    }
    EXPECT_FALSE(QnEscapeCommFunction(h, SETXON));
    EXPECT_FALSE(QnEscapeCommFunction(h, RESETDEV));
    EXPECT_EQ(commandsBefore(h, server), Commands{});
    QnCloseHandle(h);
}

TEST_F(SerialSettings, FlowControlRtsAndDtrGoInTheirOrder) {
    DeviceServer server;
    HANDLE h = openOn(server);
    DCB dcb = lineSettings(9600, 7, ODDPARITY, TWOSTOPBITS);
    dcb.fOutX = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(
        commandsBefore(h, server),
        (Commands{Command(1, {0, 0, 37, 128}), Command(2, {7}), Command(3, {2}), Command(4, {2}),
                  control(1), control(2), control(11), control(3), control(9)}));
    dcb.fOutX = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fInX = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(commandsBefore(h, server),
              (Commands{control(1), control(2), control(12), control(9)}));
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    EXPECT_EQ(commandsBefore(h, server),
              (Commands{control(1), control(11), control(3), control(9)}));
    ASSERT_TRUE(QnSetCommBreak(h));
    ASSERT_TRUE(QnEscapeCommFunction(h, SETRTS));
    ASSERT_TRUE(QnEscapeCommFunction(h, CLRDTR));
    ASSERT_TRUE(QnClearCommBreak(h));
    EXPECT_EQ(commandsBefore(h, server),
              (Commands{control(5), control(11), control(9), control(6)}));
    QnCloseHandle(h);
}

// A server answers each line command with the value now in force (RFC
// 2217). The value asked is no news; another one (hardware flow control
// asked and none in force, a speed far from the one asked) is a mode the
// port could not take: CE_MODE in QnClearCommError's errors, once. A speed
// a divisor rounds is the one asked, the answer to the opening's question
// (SET-BAUDRATE 0) may be anything, and commands nobody answers are no
// refusal.
TEST_F(SerialSettings, AnswersOtherThanAskedAreAModeError) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(setTimeouts(h, 0, 0, kLong));
    // Answers `asked` in order, the one at `changed` with `value` instead.
    auto answer = [&](const Commands& asked, size_t changed, std::vector<uint8_t> value) {
        std::vector<uint8_t> raw;
        for (size_t i = 0; i < asked.size(); ++i) {
            raw.insert(raw.end(), {IAC, SB, 44, uint8_t(asked[i].code + 100)});
            for (uint8_t b : i == changed ? value : asked[i].value) {
                raw.push_back(b);
                if (b == IAC) raw.push_back(IAC);
            }
            raw.insert(raw.end(), {IAC, SE});
        }
        // The client has taken the answers once it reads what follows them.
        raw.push_back('F');
        ASSERT_TRUE(server.send(raw));
        uint8_t fence = 0;
        DWORD got = 0;
        ASSERT_TRUE(QnReadFile(h, &fence, 1, &got, nullptr));
        ASSERT_EQ(got, 1u);
    };
    auto errors = [&] {
        DWORD e = 0;
        EXPECT_TRUE(QnClearCommError(h, &e, nullptr));
        return e;
    };
    answer({Command(1, {0, 0, 0, 0})}, 0, {0, 1, 194, 0});
    DCB dcb = lineSettings(9600, 8, NOPARITY, ONESTOPBIT);
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    const Commands asked = commandsBefore(h, server);
    ASSERT_EQ(asked.size(), 8u);
    ASSERT_EQ(asked[6], control(3));
    answer(asked, asked.size(), {});
    EXPECT_EQ(errors(), 0u) << "every answer as asked";

    ASSERT_TRUE(QnSetCommState(h, &dcb));
    const Commands again = commandsBefore(h, server);
    ASSERT_EQ(again[2], control(3));
    answer(again, 2, {1});
    EXPECT_EQ(errors(), static_cast<DWORD>(CE_MODE)) << "RTS/CTS asked, none in force";
    EXPECT_EQ(errors(), 0u);

    for (const auto& [rate, refused] : {std::pair{9650u, false}, std::pair{19200u, true}}) {
        dcb.BaudRate = 9600 + (refused ? 1 : 2);  // a change, so that the speed is sent
        ASSERT_TRUE(QnSetCommState(h, &dcb));
        const Commands sent = commandsBefore(h, server);
        ASSERT_EQ(sent[0].code, 1u);
        answer(sent, 0, {0, uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)});
        EXPECT_EQ(errors(), refused ? static_cast<DWORD>(CE_MODE) : 0u) << rate;
    }

    ASSERT_TRUE(QnSetCommState(h, &dcb));
    commandsBefore(h, server);  // never answered
    EXPECT_EQ(errors(), 0u);
    QnCloseHandle(h);
}

TEST_F(SerialSettings, GetCommStateIsZeroUntilSetThenHoldsTheFourSettings) {
    DeviceServer server;
    HANDLE h = openOn(server);
    DCB got;
    std::memset(&got, 0xAB, sizeof got);
    ASSERT_TRUE(QnGetCommState(h, &got));
    DCB zero{};
    EXPECT_EQ(std::memcmp(&got, &zero, sizeof(DCB)), 0);
    DCB dcb = lineSettings(57600, 6, MARKPARITY, TWOSTOPBITS);
    dcb.fOutX = 1;
    ASSERT_TRUE(QnSetCommState(h, &dcb));
    ASSERT_TRUE(QnGetCommState(h, &got));
    DCB expected{};
    expected.BaudRate = 57600;
    expected.ByteSize = 6;
    expected.Parity = MARKPARITY;
    expected.StopBits = TWOSTOPBITS;
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof(DCB)), 0);
    QnCloseHandle(h);
}

TEST_F(SerialSettings, ReadTimeoutRowsBehaveAsTheSerialApi) {
    DeviceServer server;
    HANDLE h = openOn(server);
    std::vector<uint8_t> buffer(100);
    DWORD count = 99;

    // Timeouts start at 0; a read of 0 bytes succeeds at once either way.
    COMMTIMEOUTS t;
    ASSERT_TRUE(QnGetCommTimeouts(h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout + t.ReadTotalTimeoutConstant + t.WriteTotalTimeoutConstant, 0u);
    EXPECT_TRUE(QnReadFile(h, buffer.data(), 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(QnWriteFile(h, buffer.data(), 0, &count, nullptr));
    EXPECT_EQ(count, 0u);

    // 0, 0, 0: returns only when all 10 bytes have come.
    auto sendLater = [&](std::vector<uint8_t> data, int ms) {
        return std::async(std::launch::async, [&server, data, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            server.sendPayload(data);
        });
    };
    ASSERT_TRUE(server.sendPayload({1, 2, 3, 4}));
    auto rest = sendLater({5, 6, 7, 8, 9, 10}, 200);
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 10, &count, nullptr));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 10),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    rest.get();

    // MAXDWORD, 0, 0 and 20, 0, 0: at once with what is buffered.
    for (DWORD interval : {DWORD{MAXDWORD}, DWORD{20}}) {
        ASSERT_TRUE(setTimeouts(h, interval, 0, 0));
        Stopwatch clock;
        ASSERT_TRUE(QnReadFile(h, buffer.data(), 100, &count, nullptr));
        EXPECT_EQ(count, 0u);
        EXPECT_LT(clock.ms(), kLong / 2);
    }

    // MAXDWORD, MAXDWORD, c: as soon as any byte is there, else after c.
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, MAXDWORD, 300));
    Stopwatch quiet;
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 100, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_GE(quiet.ms(), 250);
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, MAXDWORD, kLong * 2));
    auto three = sendLater({7, 8, 9}, 100);
    Stopwatch early;
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 100, &count, nullptr));
    EXPECT_GE(count, 1u);
    EXPECT_LT(early.ms(), kLong);
    three.get();

    // Multiplier and constant: 0, 10, 100 for 20 bytes is about 300 ms.
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, 0, 0));
    ASSERT_TRUE(
        QnReadFile(h, buffer.data(), 100, &count, nullptr));  // what came after the first byte
    ASSERT_TRUE(setTimeouts(h, 0, 10, 100));
    Stopwatch total;
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 20, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_GE(total.ms(), 250);
    QnCloseHandle(h);
}

TEST_F(SerialSettings, EventsAndModemStatusFollowNotifications) {
    DeviceServer server;
    HANDLE h = openOn(server);
    DWORD value = 1;
    ASSERT_TRUE(QnGetCommModemStatus(h, &value));
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(QnSetCommMask(h, EV_RXCHAR | EV_TXEMPTY | EV_ERR | EV_CTS | EV_DSR | EV_RLSD));
    ASSERT_TRUE(QnGetCommMask(h, &value));
    EXPECT_EQ(value, static_cast<DWORD>(EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD));

    // The first notification counts every line that is on as a change.
    ASSERT_TRUE(server.notifyModemState(48 | 3));
    DWORD events = 0;
    ASSERT_TRUE(QnWaitCommEvent(h, &events, nullptr));
    EXPECT_EQ(events, static_cast<DWORD>(EV_CTS | EV_DSR));
    ASSERT_TRUE(QnGetCommModemStatus(h, &value));
    EXPECT_EQ(value, 48u);
    // The same state again adds nothing; carrier detect then comes alone.
    ASSERT_TRUE(server.notifyModemState(48));
    ASSERT_TRUE(server.notifyModemState(48 | 128));
    ASSERT_TRUE(QnWaitCommEvent(h, &events, nullptr));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RLSD));

    // Unread payload raises EV_RXCHAR; an event already pending ends the
    // wait at once.
    ASSERT_TRUE(server.sendPayload({'a'}));
    ASSERT_TRUE(QnWaitCommEvent(h, &events, nullptr));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RXCHAR));

    // Line errors accumulate until QnClearCommError takes them.
    ASSERT_TRUE(server.notifyLineState(10));
    ASSERT_TRUE(server.notifyLineState(16 | 1));
    ASSERT_TRUE(server.notifyLineState(4 | 64));  // parity, and a bit no error stands for
    ASSERT_TRUE(server.sendPayload({'b'}));
    ASSERT_TRUE(QnSetCommMask(h, EV_RXCHAR));
    // Once 'b' is in, so are the notifications sent before it.
    DWORD errors = 0;
    for (;;) {
        ASSERT_TRUE(QnWaitCommEvent(h, &events, nullptr));
        COMSTAT stat{};
        ASSERT_TRUE(QnClearCommError(h, &value, &stat));
        errors |= value;
        if (stat.cbInQue >= 2) break;
    }
    EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME | CE_OVERRUN | CE_BREAK | CE_RXPARITY));
    ASSERT_TRUE(QnClearCommError(h, &value, nullptr));
    EXPECT_EQ(value, 0u);
    QnCloseHandle(h);
}

// The common rules: a dead handle or a null pointer gives FALSE and writes
// nothing, and no export dereferences a handle it does not know.
TEST_F(SerialSettings, BadHandlesAndNullPointersAreRefused) {
    DeviceServer server;
    HANDLE live = openOn(server);
    HANDLE closed = QnCreateFile(server.name().c_str(), 0, 0, nullptr, 0, 0, nullptr);
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(QnCloseHandle(closed));
    int madeUp = 0;
    DWORD word = 0;
    DCB dcb = lineSettings(9600, 8, NOPARITY, ONESTOPBIT);
    COMMTIMEOUTS t{};
    COMSTAT stat{};
    uint8_t byte = 0;
    for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, closed, HANDLE{&madeUp}}) {
        DWORD count = 77;
        plat::setLastError(0);
        EXPECT_FALSE(QnReadFile(bad, &byte, 1, &count, nullptr));
        EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(QnWriteFile(bad, &byte, 1, &count, nullptr));
        EXPECT_EQ(count, 77u);
        EXPECT_FALSE(QnSetCommState(bad, &dcb));
        EXPECT_FALSE(QnGetCommState(bad, &dcb));
        EXPECT_FALSE(QnSetCommTimeouts(bad, &t));
        EXPECT_FALSE(QnGetCommTimeouts(bad, &t));
        EXPECT_FALSE(QnPurgeComm(bad, PURGE_RXCLEAR));
        EXPECT_FALSE(QnClearCommError(bad, &word, &stat));
        EXPECT_FALSE(QnSetCommMask(bad, EV_RXCHAR));
        EXPECT_FALSE(QnGetCommMask(bad, &word));
        EXPECT_FALSE(QnWaitCommEvent(bad, &word, nullptr));
        EXPECT_FALSE(QnGetCommModemStatus(bad, &word));
        EXPECT_FALSE(QnEscapeCommFunction(bad, SETDTR));
        EXPECT_FALSE(QnSetCommBreak(bad));
        EXPECT_FALSE(QnClearCommBreak(bad));
        EXPECT_TRUE(QnSetupComm(bad, 4096, 4096));
        EXPECT_TRUE(QnSetCommConfig(bad, nullptr, 0));
    }
    DWORD count = 77;
    plat::setLastError(0);
    EXPECT_FALSE(QnReadFile(live, nullptr, 1, &count, nullptr));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(QnReadFile(live, &byte, 1, nullptr, nullptr));
    EXPECT_FALSE(QnWriteFile(live, nullptr, 1, &count, nullptr));
    EXPECT_FALSE(QnWriteFile(live, &byte, 1, nullptr, nullptr));
    EXPECT_EQ(count, 77u);
    EXPECT_FALSE(QnSetCommState(live, nullptr));
    EXPECT_FALSE(QnGetCommState(live, nullptr));
    EXPECT_FALSE(QnSetCommTimeouts(live, nullptr));
    EXPECT_FALSE(QnGetCommTimeouts(live, nullptr));
    EXPECT_FALSE(QnClearCommError(live, nullptr, &stat));
    EXPECT_FALSE(QnGetCommMask(live, nullptr));
    EXPECT_FALSE(QnWaitCommEvent(live, nullptr, nullptr));
    EXPECT_FALSE(QnGetCommModemStatus(live, nullptr));
    // None of it reached the server.
    EXPECT_EQ(commandsBefore(live, server), Commands{});
    EXPECT_TRUE(server.payload().empty());
    QnCloseHandle(live);
}
