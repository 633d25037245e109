#include "tester/port/port_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* kindName(PortKind k) {
    return k == PortKind::Local ? "local" : k == PortKind::Network ? "network" : "rejected";
}

}  // namespace

// Every name goes through the same two steps as in PortAccess::Open.
TEST(PortName, ClassifiesLikeTheWindowsTester) {
    const PortKind L = PortKind::Local, N = PortKind::Network, R = PortKind::Rejected;
    const std::string longDigits(5000, '9');
    const std::string longName = "COM" + longDigits;
    const std::string longAddress = "10.0.0.5:" + longDigits;
    const std::string longZeros = "COM" + std::string(4000, '0') + "7";
    struct Case {
        std::string name;
        PortKind kind;
    } cases[] = {
        // Local ports and the number rule.
        {" com7 ", L},
        {"COM1", L},
        {"COM255", L},
        {"COM0", R},
        {"COM256", R},
        {"COM", R},
        {"COM12X", L},  // the number rule reads 12; the device then does not exist
        {"COM+5", L},
        {"COM-5", R},
        {"COM+-5", R},
        {"COM 7", L},  // leading blanks before the number are allowed
        {"COM\t9", L},
        {"COM-0", R},
        {"COM4294967297", R},  // does not wrap into range
        {longName, R},
        {longZeros, L},
        {"COM3=extra text", L},
        {"COM1.2.3.4:5", L},  // "COM" first: never tried as an address
        // Network ports.
        {"10.0.0.5:950", N},
        {"192.168.000.020:00950", N},
        {"0.0.0.0:0", N},
        {"255.255.255.255:65535", N},
        {"+1.2.3.4:5", N},
        {"10.0.0.5", R},
        {"10.0.0.256:950", R},
        {"10.0.0.5:65536", R},
        {"10..0.5:950", R},
        {".0.0.5:950", R},
        {"10.0.0.:950", R},
        {"1.2.3.4.5:950", R},
        {"10.0.0.5:", R},
        {"10.0.0.5::950", N},  // ":950" reads 0 by the number rule; the library decides
        {"-1.0.0.5:950", R},
        {"host.lan:950", R},
        {"MYHOST:950", R},
        {"1.2.3.4:5X", R},  // letters anywhere reject an address
        {"1.2.3.4:5\xe9", R},
        {"1.2.3.4:5#", N},  // not a letter: the number rule reads 5
        {"...", R},
        {"..........:1", R},
        {"1.2.3.4:" + std::string(300, '.'), R},
        {longAddress, R},
        {"", R},
        {"   ", R},
        // Device paths, where the native backend takes them.
        {"/dev/ttyUSB0", L},
        {"/", L},
    };
    for (const Case& c : cases) {
        const std::string n = NormalizePortName(c.name.c_str());
        PortKind got = ClassifyPortName(n.c_str(), true);
        EXPECT_EQ(got, c.kind) << "'" << c.name.substr(0, 40) << "' is " << kindName(got);
        if (c.name[0] != '/') {
            EXPECT_EQ(ClassifyPortName(n.c_str(), false), got) << c.name.substr(0, 40);
        }
    }
    EXPECT_EQ(ClassifyPortName("/dev/ttyUSB0", false), R) << "Windows has no device paths";
    EXPECT_EQ(ClassifyPortName(nullptr, true), R);
}

TEST(PortName, NormalisingKeepsDevicePathsAsWritten) {
    EXPECT_EQ(NormalizePortName(" com7 "), "COM7");
    EXPECT_EQ(NormalizePortName("\t10.0.0.5:950\r\n"), "10.0.0.5:950");
    EXPECT_EQ(NormalizePortName("  /dev/ttyUSB0 "), "/dev/ttyUSB0");
    EXPECT_EQ(NormalizePortName("com3=Extra Text"), "COM3=EXTRA TEXT");
    EXPECT_EQ(NormalizePortName("caf\xe9"), "CAF\xe9");
    EXPECT_EQ(NormalizePortName(""), "");
    EXPECT_EQ(NormalizePortName(nullptr), "");
}

TEST(PortName, NumberRule) {
    EXPECT_EQ(ReadPortNumber("12X"), 12);
    EXPECT_EQ(ReadPortNumber("  \t+42"), 42);
    EXPECT_EQ(ReadPortNumber("-7"), -7);
    EXPECT_EQ(ReadPortNumber("- 7"), 0);
    EXPECT_EQ(ReadPortNumber("abc"), 0);
    EXPECT_EQ(ReadPortNumber(""), 0);
    EXPECT_EQ(ReadPortNumber("99999999999999999999"), 0x7FFFFFFF);
    EXPECT_EQ(ReadPortNumber("-99999999999999999999"), -0x80000000LL);
}

TEST(PortName, PosixDevicesOnlyForPlainComNumbers) {
    struct Case {
        const char* name;
        const char* path;  // nullptr: no device
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM12", "/dev/ttyS11"},
        {"COM255", "/dev/ttyS254"},
        {"COM12X", nullptr},
        {"COM012", nullptr},
        {"COM+5", nullptr},
        {"COM 7", nullptr},
        {"COM0", nullptr},
        {"COM256", nullptr},
        {"COM3=x", nullptr},
        {"COM", nullptr},
        {"10.0.0.5:950", nullptr},
        {"COM99999999999", nullptr},
        {"/dev/pts/3", "/dev/pts/3"},
    };
    for (const Case& c : cases) {
        std::string path = "unchanged";
        EXPECT_EQ(PosixDevicePath(c.name, path), c.path != nullptr) << c.name;
        if (c.path) {
            EXPECT_EQ(path, c.path) << c.name;
        }
    }
}
