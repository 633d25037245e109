// The configuration's rules, run natively against our own INI code and
// under Wine against the Win32 profile service.
#include "tester/config/configuration.h"
#include "tester/config/metrics_settings.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_dir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        configuration = Configuration();
        SetConfigPath(path_.c_str());
    }
    void writeFile(const std::string& text) { rig::ScratchDir::write(path_, text); }
    std::string readFile() { return rig::ScratchDir::read(path_); }
    // Loads a file holding only [section] key=value.
    void loaded(const char* section, const char* key, const char* value) {
        writeFile(std::string("[") + section + "]\r\n" + key + "=" + value + "\r\n");
        configuration = Configuration();
        LoadConfiguration();
    }
    const PortSettings& settings() { return configuration.portSettings; }

    rig::ScratchDir dir_{"vesk-config-"};
    const std::string path_ = dir_.file("vesktestw.ini");
};

}  // namespace

TEST_F(ConfigFile, NoFileGivesDefaultsAndEveryComPort) {
    EXPECT_EQ(LoadConfiguration(), 0);
    EXPECT_EQ(settings().blockSize, 1024u);
    EXPECT_EQ(settings().hdTimeout, 1);
    EXPECT_EQ(settings().baudRate, 115200u);
    EXPECT_EQ(settings().byteSize, 8u);
    EXPECT_EQ(settings().lineFlags.load().word(), 0u);
    EXPECT_EQ(configuration.windowTop, 100);
    EXPECT_EQ(configuration.windowBottom, 499);
    EXPECT_EQ(configuration.windowLeft, 100);
    EXPECT_EQ(configuration.windowRight, 699);
    EXPECT_EQ(configuration.columns[2].width, 85);
    EXPECT_STREQ(configuration.columns[6].title, "ErrDesc");

    ASSERT_EQ(configuration.portCount, 255u);
    std::string name = "untouched";
    EXPECT_EQ(GetPortName(0, name), 0);
    EXPECT_EQ(name, "COM1");
    EXPECT_EQ(GetPortName(254, name), 0);
    EXPECT_EQ(name, "COM255");
    EXPECT_EQ(GetPortName(255, name), -1);
    EXPECT_EQ(GetPortName(0xFFFFFFFFu, name), -1);
    EXPECT_EQ(name, "COM255") << "a failed GetPortName must leave the text alone";

    EXPECT_EQ(configuration.summaryText,
              "Comm setting: 115200,8,None,1   Flow control: None   Block size: 1024 bytes   "
              "HD Timeout: 1 ms");

    EXPECT_EQ(SaveConfiguration(), 0);
    const std::string saved = readFile();
    for (const char* section : {"[Misc]", "[Serial]", "[Window]", "[Columns]"})
        EXPECT_NE(saved.find(section), std::string::npos) << section;
    EXPECT_EQ(saved.find("[Ports]"), std::string::npos);
}

TEST_F(ConfigFile, OutOfRangeValuesReadAsTheirDefaults) {
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        uint32_t expected;
        const Relaxed<uint32_t> PortSettings::*field;
    } cases[] = {
        {"Misc", "BlockSize", "31", 1024, &PortSettings::blockSize},
        {"Misc", "BlockSize", "64001", 1024, &PortSettings::blockSize},
        {"Misc", "BlockSize", "32", 32, &PortSettings::blockSize},
        {"Misc", "BlockSize", "64000", 64000, &PortSettings::blockSize},
        {"Misc", "BlockSize", "-5", 1024, &PortSettings::blockSize},
        {"Misc", "BlockSize", "junk", 1024, &PortSettings::blockSize},
        {"Serial", "ByteSize", "4", 8, &PortSettings::byteSize},
        {"Serial", "ByteSize", "9", 8, &PortSettings::byteSize},
        {"Serial", "ByteSize", "5", 5, &PortSettings::byteSize},
        {"Serial", "Parity", "5", 0, &PortSettings::parity},
        {"Serial", "Parity", "4", 4, &PortSettings::parity},
        {"Serial", "Parity", "-1", 0, &PortSettings::parity},
        {"Serial", "StopBits", "3", 0, &PortSettings::stopBits},
        {"Serial", "StopBits", "2", 2, &PortSettings::stopBits},
        {"Serial", "FlowCtrl", "7", 0, &PortSettings::flowControl},
        {"Serial", "FlowCtrl", "4", 4, &PortSettings::flowControl},
        {"Serial", "BaudRate", "0", 0, &PortSettings::baudRate},
        {"Serial", "BaudRate", "3000000", 3000000, &PortSettings::baudRate},
    };
    for (const Case& c : cases) {
        loaded(c.section, c.key, c.value);
        EXPECT_EQ((settings().*c.field).load(), c.expected) << c.key << "=" << c.value;
    }
    // The half-duplex time-out the settings form allows, 0..300000 ms; a
    // negative one (about 49 days as a reply wait) or a larger one is the
    // key's default, 1, as an out-of-range value of any key is.
    for (const char* bad : {"-250", "-1", "300001", "4000000000"}) {
        loaded("Misc", "HDTimeout", bad);
        EXPECT_EQ(settings().hdTimeout, 1) << "HDTimeout=" << bad;
    }
    for (int32_t good : {0, 1, 250, 300000}) {
        loaded("Misc", "HDTimeout", std::to_string(good).c_str());
        EXPECT_EQ(settings().hdTimeout, good);
    }
    loaded("Misc", "Reconnect", "0");
    EXPECT_EQ(settings().reconnect, 0u);
    loaded("Misc", "Reconnect", "7");
    EXPECT_EQ(settings().reconnect, 1u) << "any other value is on";
}

TEST_F(ConfigFile, LineFlagsTakeTheLowBitsOfEachValue) {
    struct Case {
        const char* key;
        const char* value;
        uint32_t word;  // lineFlags as a whole
    } cases[] = {
        {"RtsControl", "2", 0x002},
        {"RtsControl", "3", 0x003},  // Toggle (RS-485), RTS only
        {"RtsControl", "5", 0x001},
        {"DtrControl", "2", 0x008},
        {"DtrControl", "3", 0x000},
        {"DtrControl", "7", 0x000},
        {"DtrControl", "6", 0x008},
        {"OutxCtsFlow", "1", 0x010},
        {"OutxDsrFlow", "3", 0x020},
        {"DsrSensitivity", "1", 0x040},
        {"OutX", "2", 0x000},
        {"OutX", "3", 0x080},
        {"InX", "1", 0x100},
        {"TXContinueOnXoff", "1", 0x200},
        {"TXContinueOnXoff", "-1", 0x200},
    };
    for (const Case& c : cases) {
        loaded("Serial", c.key, c.value);
        EXPECT_EQ(settings().lineFlags.load().word(), c.word) << c.key << "=" << c.value;
    }

    writeFile(
        "[Serial]\nRtsControl=2\nDtrControl=1\nOutxCtsFlow=1\nOutxDsrFlow=0\n"
        "DsrSensitivity=1\nOutX=1\nInX=0\nTXContinueOnXoff=1\n");
    LoadConfiguration();
    LineFlags f = settings().lineFlags;
    EXPECT_EQ(f.rtsControl, 2u);
    EXPECT_EQ(f.dtrControl, 1u);
    EXPECT_EQ(f.word(), 0x2D6u);
    EXPECT_EQ(LineFlags::fromWord(f.word()).word(), f.word());
    EXPECT_EQ(LineFlags::fromWord(0xFFFFFFFFu).word(), 0x3FFu) << "the upper 22 bits stay zero";
}

TEST_F(ConfigFile, EverySettingSurvivesASaveAndTheNextLoad) {
    PortSettings& p = configuration.portSettings;
    p.blockSize = 4096;
    p.hdTimeout = 300000;
    p.baudRate = 921600;
    p.byteSize = 7;
    p.parity = 3;
    p.stopBits = 1;
    p.flowControl = 4;
    p.lineFlags = LineFlags::fromWord(0x3B6);
    configuration.windowTop = -1080;
    configuration.windowBottom = -5;
    configuration.windowLeft = -1920;
    configuration.windowRight = 2147483647;
    for (int i = 0; i < kColumnCount; ++i)
        configuration.columns[i].width = i == 4 ? -1 : 10 * i + 1;
    SaveConfiguration();

    configuration = Configuration();
    LoadConfiguration();
    EXPECT_EQ(p.blockSize, 4096u);
    EXPECT_EQ(p.hdTimeout, 300000);
    EXPECT_EQ(p.baudRate, 921600u);
    EXPECT_EQ(p.byteSize, 7u);
    EXPECT_EQ(p.parity, 3u);
    EXPECT_EQ(p.stopBits, 1u);
    EXPECT_EQ(p.flowControl, 4u);
    EXPECT_EQ(p.lineFlags.load().word(), 0x3B6u);
    EXPECT_EQ(configuration.windowTop, -1080);
    EXPECT_EQ(configuration.windowBottom, -5);
    EXPECT_EQ(configuration.windowLeft, -1920);
    EXPECT_EQ(configuration.windowRight, 2147483647);
    for (int i = 0; i < kColumnCount; ++i)
        EXPECT_EQ(configuration.columns[i].width, i == 4 ? -1 : 10 * i + 1) << "column " << i;
    EXPECT_EQ(configuration.summaryText,
              "Comm setting: 921600,7,Mark,1.5   Flow control: Custom   Block size: 4096 bytes   "
              "HD Timeout: 300000 ms");
    EXPECT_NE(readFile().find("Top=-1080"), std::string::npos) << "edges are written with %d";
}

TEST_F(ConfigFile, SaveLeavesThePortListAsItWas) {
    const std::string ports = "[Ports]\r\nCOM7\r\n10.0.0.5:950\r\nCOM3=extra text\r\nCOM1\r\n";
    writeFile(ports + "[Serial]\r\nBaudRate=9600\r\n");
    LoadConfiguration();
    ASSERT_EQ(configuration.portCount, 4u);
    std::string name;
    const char* expected[] = {"COM7", "10.0.0.5:950", "COM3=extra text", "COM1"};
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(GetPortName(i, name), 0);
        EXPECT_EQ(name, expected[i]);
    }

    configuration.portSettings.baudRate = 57600;
    SaveConfiguration();
    const std::string saved = readFile();
    EXPECT_EQ(saved.compare(0, ports.size(), ports), 0) << saved;
    EXPECT_NE(saved.find("BaudRate=57600"), std::string::npos);
    EXPECT_EQ(saved.find("=9600\r"), std::string::npos);

    configuration = Configuration();
    LoadConfiguration();
    ASSERT_EQ(configuration.portCount, 4u);
    EXPECT_EQ(configuration.portNames[2], "COM3=extra text");
}

TEST_F(ConfigFile, EmptyPortsSectionMeansEveryComPort) {
    writeFile("[Ports]\r\n\r\n[Misc]\r\nBlockSize=64\r\n");
    LoadConfiguration();
    EXPECT_EQ(configuration.portCount, 255u);
    EXPECT_EQ(configuration.portNames.back(), "COM255");
    EXPECT_EQ(settings().blockSize, 64u);
}

TEST_F(ConfigFile, BinaryJunkReadsAsDefaultsWithoutHarm) {
    std::mt19937 random(12345);
    std::string junk;
    for (int i = 0; i < 20000; ++i)
        junk += static_cast<char>(random() & 0xFF);
    // Junk around a real section, and junk inside [Ports].
    writeFile("; junk follows\r\n" + junk + "\r\n[Serial]\r\nParity=2\r\n[Ports]\r\nCOM2\r\n" +
              junk.substr(0, 300) + "\r\n\xff\xfe\x01=\x80\r\n");
    LoadConfiguration();
    EXPECT_EQ(settings().parity, 2u);
    EXPECT_GE(settings().blockSize, 32u);
    EXPECT_LE(settings().blockSize, 64000u);
    EXPECT_GE(settings().byteSize, 5u);
    EXPECT_LE(settings().byteSize, 8u);
    ASSERT_GE(configuration.portCount, 1u);
    EXPECT_EQ(configuration.portNames[0], "COM2");
    EXPECT_EQ(configuration.portCount, configuration.portNames.size());
    for (const std::string& n : configuration.portNames)
        EXPECT_EQ(n.find('\0'), std::string::npos);
}

TEST_F(ConfigFile, OversizedPortsSectionKeepsOnlyWholeNamesThatFit) {
    // About 1 MB of names: far beyond the 32768-byte section buffer.
    std::string text = "[Serial]\r\nByteSize=7\r\n[Ports]\r\n";
    const int count = 90000;
    for (int i = 0; i < count; ++i)
        text += "10.1." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250) + ":" +
                std::to_string(1000 + i % 60000) + "\r\n";
    ASSERT_GT(text.size(), 1000000u);
    writeFile(text);
    LoadConfiguration();
    EXPECT_EQ(settings().byteSize, 7u);

    size_t bytes = 0;
    ASSERT_GT(configuration.portCount, 1000u);
    ASSERT_LT(configuration.portCount, static_cast<uint32_t>(count));
    for (uint32_t i = 0; i < configuration.portCount; ++i) {
        const std::string& n = configuration.portNames[i];
        std::string whole = "10.1." + std::to_string(i / 250 % 250) + "." +
                            std::to_string(i % 250) + ":" + std::to_string(1000 + i % 60000);
        ASSERT_EQ(n, whole) << "name " << i << " is not the name in the file";
        bytes += n.size() + 1;
    }
    EXPECT_LE(bytes, 32768u);
    EXPECT_GT(bytes, 32768u - 64) << "names that fit the buffer were lost";
}

TEST_F(ConfigFile, PathIsTakenUnalteredAndBareNamesMeanTheCurrentDirectory) {
    SetConfigPath("");
    EXPECT_EQ(configPath, path_) << "an empty text keeps the path";

    const fs::path old = fs::current_path();
    fs::current_path(dir_.path());
    SetConfigPath(" odd name.ini");
    EXPECT_EQ(configPath, " odd name.ini");
    configuration.portSettings.blockSize = 777;
    SaveConfiguration();
    configuration = Configuration();
    LoadConfiguration();
    fs::current_path(old);
    EXPECT_TRUE(fs::exists(dir_.path() / " odd name.ini"));
    EXPECT_EQ(settings().blockSize, 777u);
}

TEST_F(ConfigFile, SummaryNamesEveryCodeAndSurvivesBadOnes) {
    PortSettings& p = configuration.portSettings;
    p.baudRate = 9600;
    p.byteSize = 5;
    p.parity = 4;
    p.stopBits = 2;
    p.flowControl = 3;
    p.blockSize = 32;
    p.hdTimeout = 0;
    BuildSummary();
    EXPECT_EQ(configuration.summaryText,
              "Comm setting: 9600,5,Space,2   Flow control: Xon/Xoff   Block size: 32 bytes   "
              "HD Timeout: 0 ms");
    p.parity = 9;
    p.stopBits = 0xFFFFFFFFu;
    p.flowControl = 5;
    BuildSummary();
    EXPECT_EQ(configuration.summaryText,
              "Comm setting: 9600,5,?,?   Flow control: ?   Block size: 32 bytes   "
              "HD Timeout: 0 ms");
}

// The sample shipped in the Windows zip: its comments are no ports and no
// values, its keys read as it says, and the tester's save at exit keeps
// the explanations.
TEST_F(ConfigFile, TheShippedSampleReadsAsItsCommentsSay) {
    const std::string sample = rig::ScratchDir::read(VESK_SAMPLE_INI);
    ASSERT_NE(sample.find("[Ports]"), std::string::npos) << VESK_SAMPLE_INI;
    writeFile(sample);
    LoadConfiguration();
    ASSERT_EQ(configuration.portCount, 2u);
    EXPECT_EQ(configuration.portNames[0], "COM1");
    EXPECT_EQ(configuration.portNames[1], "COM2");
    EXPECT_EQ(settings().baudRate, 115200u);
    EXPECT_EQ(settings().byteSize, 8u);
    EXPECT_EQ(settings().blockSize, 1024u);
    EXPECT_EQ(settings().hdTimeout, 0);
    EXPECT_EQ(settings().lineFlags.load().word(), 0u);

    EXPECT_EQ(SaveConfiguration(), 0);
    const std::string saved = readFile();
    EXPECT_NE(saved.find("; Bytes per test block, 32 to 64000."), std::string::npos) << saved;
    configuration = Configuration();
    LoadConfiguration();
    EXPECT_EQ(configuration.portCount, 2u);
    EXPECT_EQ(settings().hdTimeout, 0);
}

// The window tester's [Metrics]: only read, and left as it was by the save,
// which must not lose the collector's path to a rewrite.
TEST_F(ConfigFile, MetricsSectionIsReadAsWrittenAndKeptBySaving) {
    const std::string section =
        "[Metrics]\r\n; where windows_exporter looks\r\n file = C:\\textfile inputs\\vesk.prom \r\n"
        "INTERVAL=2\r\nStation=rack 3\r\nunit=SN-1042\r\nColour=blue\r\n";
    writeFile(section + "[Misc]\r\nBlockSize=64\r\n");
    MetricsSettings m = LoadMetricsSettings(path_);
    EXPECT_EQ(m.file, "C:\\textfile inputs\\vesk.prom");
    EXPECT_EQ(m.intervalSeconds, 2u);
    EXPECT_EQ(m.station, "rack 3");
    EXPECT_EQ(m.unit, "SN-1042");
    // The save keeps the section (the Win32 service, rewriting the file,
    // drops the blanks around keys and values).
    LoadConfiguration();
    EXPECT_EQ(SaveConfiguration(), 0);
    EXPECT_NE(readFile().find("; where windows_exporter looks"), std::string::npos) << readFile();
    m = LoadMetricsSettings(path_);
    EXPECT_EQ(m.file, "C:\\textfile inputs\\vesk.prom");
    EXPECT_EQ(m.intervalSeconds, 2u);
    EXPECT_EQ(m.unit, "SN-1042");

    for (const char* interval : {"0", "86401", "-5", "5s", ""}) {
        writeFile(std::string("[Metrics]\r\nFile=m.prom\r\nInterval=") + interval + "\r\n");
        EXPECT_EQ(LoadMetricsSettings(path_).intervalSeconds, kDefaultMetricsIntervalSeconds)
            << interval;
    }
    writeFile("[Misc]\r\nBlockSize=64\r\n");
    m = LoadMetricsSettings(path_);
    EXPECT_EQ(m.file, "") << "no section, no metrics";
    EXPECT_EQ(m.station, "");
}
