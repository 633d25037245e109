// vesktest --batch as a script runs it: the program itself, over demo ports
// and over cables this test makes (with faults where it wants them), judged
// by its exit code, its table and its CSV.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tester/demo/cable.h"
#include "tests/support/ser2net.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;  // stdout and stderr
};

std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the program from `directory` (where the network library's qelnet.ini
// would be looked for) and collects what it prints.
Outcome Vesktest(const std::vector<std::string>& args, const std::string& directory) {
    std::string command = "cd " + Quote(directory) + " && exec " + Quote(VESKTEST_PROGRAM);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " 2>&1 </dev/null";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Seconds of CPU the processes this one has reaped so far have used.
double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Whether a connection to 127.0.0.1:port is established (/proc/net/tcp:
// the local address as the host prints the word, the port in hex, state 01).
bool ClientConnected(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "01") return true;
    }
    return false;
}

// The report's columns: the list's nine, then the run's own.
enum Column : size_t {
    kNumber,
    kName,
    kRx,
    kTx,
    kCps,
    kErr,
    kErrDesc,
    kTime,
    kState,
    kDrops,
    kLost,
    kLineErr,
    kLineErrSeen,
    kResult,
    kColumns
};

// One row of the report: its fields (none of them holds a comma here).
struct Row {
    std::vector<std::string> cells;
    const std::string& operator[](size_t i) const { return cells.at(i); }
};

std::vector<Row> ReportRows(const std::string& path) {
    std::vector<Row> rows;
    std::ifstream csv(path);
    std::string line;
    if (!std::getline(csv, line)) return rows;  // the titles
    while (std::getline(csv, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Row row;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            row.cells.push_back(field);
        if (line.back() == ',') row.cells.push_back("");
        rows.push_back(row);
    }
    return rows;
}

// "bytes/blocks" of a counter cell.
uint32_t Blocks(const std::string& pair) {
    return static_cast<uint32_t>(std::stoul(pair.substr(pair.find('/') + 1)));
}
uint32_t Bytes(const std::string& pair) {
    return static_cast<uint32_t>(std::stoul(pair.substr(0, pair.find('/'))));
}

class BatchRun : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vesk-batch.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string WriteConfig(const std::vector<std::string>& ports, const std::string& more = "") {
        const std::string path = dir_ + "/bench.ini";
        std::ofstream file(path);
        file << "[Ports]\n";
        for (const std::string& port : ports)
            file << port << "\n";
        file << "[Serial]\nBaudRate=115200\n" << more;
        return path;
    }

    // vesktest --batch with the options given, the report in report(), and
    // `config` last (none with --demo).
    Outcome Batch(std::vector<std::string> options, const std::string& config = "") {
        options.push_back("--report");
        options.push_back(report());
        if (!config.empty()) options.push_back(config);
        return Vesktest(options, dir_);
    }
    std::string report() const { return dir_ + "/report.csv"; }
    std::vector<Row> Rows() const { return ReportRows(report()); }

    std::string dir_;
};

// Ports 1 and 2, 3 and 4... are wired to each other: every block one sent
// is a block the other received whole, because the senders stop first.
void ExpectPairsLossless(const std::vector<Row>& rows) {
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        const Row& a = rows[i];
        const Row& b = rows[i + 1];
        EXPECT_GT(Blocks(a[kTx]), 10u) << a[kName];
        EXPECT_EQ(Blocks(b[kRx]), Blocks(a[kTx])) << a[kName] << " -> " << b[kName];
        EXPECT_EQ(Blocks(a[kRx]), Blocks(b[kTx])) << b[kName] << " -> " << a[kName];
        EXPECT_EQ(Bytes(b[kRx]), Bytes(a[kTx])) << a[kName] << " -> " << b[kName];
        EXPECT_EQ(Bytes(a[kRx]), Bytes(b[kTx])) << b[kName] << " -> " << a[kName];
    }
}

TEST_F(BatchRun, DemoPortsRunCleanAndLoseNoBlock) {
    const Outcome run = Batch({"--demo", "2", "--batch", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<Row> rows = Rows();
    // Two pairs of pseudo-terminals, and the network pair when the library
    // is beside the program (it is in this build).
    ASSERT_EQ(rows.size(), 6u) << run.output;
    EXPECT_NE(rows[4][kName].find("127.0.0.1:"), std::string::npos);
    for (const Row& row : rows) {
        ASSERT_EQ(row.cells.size(), size_t{kColumns}) << run.output;
        EXPECT_EQ(row[kErr], "0/0") << row[kName];
        EXPECT_EQ(row[kErrDesc], "....../../0000") << row[kName];
        EXPECT_EQ(row[kState], "") << "stopped";
        EXPECT_EQ(row[kDrops], "0");
        EXPECT_EQ(row[kLineErr], "0");
        EXPECT_EQ(row[kResult], "passed");
        // Paced to 115200 bit/s, 10 bits a character: never faster.
        EXPECT_LE(std::stoul(row[kCps]), 11520u * 105 / 100) << row[kName];
    }
    ExpectPairsLossless(rows);
    EXPECT_NE(run.output.find("Drops"), std::string::npos) << "the table has the run's columns";
    EXPECT_NE(run.output.find("6 ports configured, 6 opened, 0 not opened, 0 failing: passed"),
              std::string::npos)
        << run.output;
}

TEST_F(BatchRun, HalfDuplexPairsOnDemoPorts) {
    const Outcome run = Batch({"--demo", "1", "--batch", "3", "--pairs"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 4u) << run.output;
    for (size_t i = 0; i < rows.size(); i += 2) {
        const Row& master = rows[i];
        const Row& slave = rows[i + 1];
        EXPECT_EQ(master[kState], "M") << run.output;
        EXPECT_EQ(slave[kState], "S") << run.output;
        EXPECT_EQ(master[kErr], "0/0");
        EXPECT_EQ(slave[kErr], "0/0");
        // The slave got every block the master sent and echoed each; the
        // master saw every echo but possibly the last, which was on its way
        // when it stopped.
        EXPECT_GT(Blocks(master[kTx]), 3u);
        EXPECT_EQ(Blocks(slave[kRx]), Blocks(master[kTx]));
        EXPECT_EQ(Blocks(slave[kTx]), Blocks(slave[kRx]));
        EXPECT_GE(Blocks(master[kRx]) + 1, Blocks(master[kTx]));
    }
    std::ifstream csv(report());
    std::string header;
    ASSERT_TRUE(std::getline(csv, header));
    EXPECT_EQ(header,
              "#,Name,Rx#,Tx#,CPS,Err#,ErrDesc,Time,State,Drops,Lost,LineErr,LineErrSeen,"
              "Result\r");
}

TEST_F(BatchRun, InjectedFaultsAreCountedExactly) {
    demo::NullModemCable cable(demo::Pacing::followPort());
    // Blocks of 1024 bytes, payload from byte 16 of each. A to B: one byte
    // of block 2 changed, one byte of block 10 lost; B to A: one byte of
    // block 4 changed. Each costs its block and one receive error: a lost
    // byte is made good by the tag kept from the next block.
    ASSERT_TRUE(cable.inject(demo::Dir::AtoB, demo::Injection::change(2 * 1024 + 952, 0x00)));
    ASSERT_TRUE(cable.inject(demo::Dir::AtoB, demo::Injection::drop(10 * 1024 + 260)));
    ASSERT_TRUE(cable.inject(demo::Dir::BtoA, demo::Injection::change(4 * 1024 + 904, 0xFF)));
    const std::string config = WriteConfig({cable.pathA(), cable.pathB()});

    const Outcome run = Batch({"--batch", "3"}, config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2u) << run.output;
    const Row& a = rows[0];
    const Row& b = rows[1];
    EXPECT_EQ(a[kName], cable.pathA());
    EXPECT_EQ(a[kErr], "1/0");
    EXPECT_EQ(b[kErr], "2/0");
    EXPECT_EQ(a[kErrDesc], "....../SY/0000");
    EXPECT_EQ(b[kErrDesc], "....../SY/0000");
    EXPECT_EQ(a[kLost], "0") << "a broken block is no lost one";
    EXPECT_EQ(Blocks(b[kRx]), Blocks(a[kTx]) - 2);
    EXPECT_EQ(Blocks(a[kRx]), Blocks(b[kTx]) - 1);
    EXPECT_EQ(Bytes(b[kRx]), Bytes(a[kTx]) - 1);  // the lost byte
    EXPECT_EQ(cable.taken(demo::Dir::AtoB), Bytes(a[kTx]));
    EXPECT_NE(run.output.find("port 1 (" + cable.pathA() + "): 1 receive error; port 2 (" +
                              cable.pathB() + "): 2 receive errors"),
              std::string::npos)
        << run.output;
}

TEST_F(BatchRun, APortThatCannotBeOpenedFailsTheRunAndSaysWhy) {
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config =
        WriteConfig({cable.pathA(), cable.pathB(), "/dev/vesk-no-such-port"});
    const Outcome run = Batch({"--batch", "2"}, config);
    ASSERT_EQ(run.exitCode, 4) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 3u) << run.output;
    EXPECT_EQ(rows[2].cells, (std::vector<std::string>{"3", "/dev/vesk-no-such-port", "", "", "",
                                                       "", "No such file or directory", "",
                                                       "Not open", "", "", "", "", "not opened"}));
    EXPECT_EQ(rows[0][kErr], "0/0");
    ExpectPairsLossless({rows[0], rows[1]});
    EXPECT_NE(run.output.find("port 3 (/dev/vesk-no-such-port): not opened: No such file or "
                              "directory"),
              std::string::npos)
        << run.output;
}

// Settings the ports refuse (1.5 stop bits with 8 data bits): the ports
// keep theirs and test on, and the run fails saying why.
TEST_F(BatchRun, SettingsThePortsRefuseFailTheRun) {
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config = WriteConfig({cable.pathA(), cable.pathB()}, "StopBits=1\n");
    const Outcome run = Batch({"--batch", "2"}, config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    for (const Row& row : Rows()) {
        EXPECT_EQ(row[kErrDesc], "....../SE/0087") << row[kName];
        EXPECT_EQ(row[kErr], "0/0") << "the line itself is clean";
        EXPECT_GT(Blocks(row[kRx]), 3u);
    }
    EXPECT_NE(run.output.find("port 1 (" + cable.pathA() +
                              "): line settings refused: The parameter is incorrect"),
              std::string::npos)
        << run.output;
}

// The line keeps trickling long after the senders stopped (a cable much
// slower than the ports, its buffers full): the drain gives up, and the
// run fails saying so, however clean the blocks that did arrive.
TEST_F(BatchRun, LinesThatDoNotGoQuietFailTheRun) {
    demo::NullModemCable cable(demo::Pacing::at(1200));
    const std::string config =
        WriteConfig({cable.pathA(), cable.pathB()}, "[Misc]\nBlockSize=64\n");
    const Outcome run = Batch({"--batch", "2", "--drain", "2"}, config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    EXPECT_NE(run.output.find("still receiving after 2 s: ports 1, 2"), std::string::npos)
        << run.output;
    for (const Row& row : Rows()) {
        EXPECT_EQ(row[kErr], "0/0") << row[kName];
        EXPECT_EQ(row[kResult], "passed") << "the port itself saw nothing wrong";
    }
}

// Symbolic links stand for udev's /dev/serial/by-id names: the adapter
// behind them goes (its pseudo-terminals vanish, so reads and writes fail
// with EIO, and udev takes the names away) and a new one comes under the
// same names.
class ReplugRun : public BatchRun {
  protected:
    std::string Link(const std::string& name, const std::string& target) {
        const std::string link = dir_ + "/" + name;
        std::filesystem::create_symlink(target, link);
        return link;
    }
    // Pulls the adapter: its names go first (another test's new pty may
    // take its number at once), then its pseudo-terminals.
    void Pull(std::unique_ptr<demo::NullModemCable>& cable) {
        std::filesystem::remove(dir_ + "/by-id-a");
        std::filesystem::remove(dir_ + "/by-id-b");
        cable.reset();
    }
};

TEST_F(ReplugRun, AnAdapterPulledAndPluggedBackIsOpenedAgainAndBlocksFlow) {
    auto first = std::make_unique<demo::NullModemCable>(demo::Pacing::followPort());
    const std::string a = Link("by-id-a", first->pathA());
    const std::string b = Link("by-id-b", first->pathB());
    const std::string config = WriteConfig({a, b});

    Outcome run;
    std::thread tester([&] { run = Batch({"--batch", "6"}, config); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const uint64_t before = first->taken(demo::Dir::AtoB);
    Pull(first);
    demo::NullModemCable second(demo::Pacing::followPort());
    Link("by-id-a", second.pathA());
    Link("by-id-b", second.pathB());
    tester.join();

    ASSERT_EQ(run.exitCode, 3) << run.output;
    EXPECT_GT(before, 1024u) << "blocks flowed before the pull";
    EXPECT_GT(second.taken(demo::Dir::AtoB), 4096u) << "and flow again through the new adapter";
    EXPECT_GT(second.taken(demo::Dir::BtoA), 4096u);
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const Row& row : rows) {
        EXPECT_EQ(row[kDrops], "1") << row[kName];
        EXPECT_EQ(row[kState], "") << "open again and stopped";
        // The outage costs at most a realignment and a sequence jump.
        EXPECT_LE(std::stoul(row[kErr].substr(0, row[kErr].find('/'))), 2u) << row[kErr];
        EXPECT_EQ(row[kErr].substr(row[kErr].find('/')), "/0") << "no write error counted";
        EXPECT_EQ(row[kResult], "failed");
    }
    EXPECT_NE(run.output.find("port 1 (" + a + "):"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("lost 1 time"), std::string::npos) << run.output;
}

// A port that dies for good does not make the tester spin: with Reconnect
// off its failures are counted a few a second per direction; with it on,
// the row is "Down" and the port is tried now and then. Either way the
// process stays near idle (the bound is generous: a spin takes a core).
TEST_F(ReplugRun, ADeadPortCostsNeitherCpuNorAFloodOfErrors) {
    for (int reconnect : {0, 1}) {
        SCOPED_TRACE(reconnect);
        auto cable = std::make_unique<demo::NullModemCable>(demo::Pacing::followPort());
        const std::string a = Link("by-id-a", cable->pathA());
        const std::string b = Link("by-id-b", cable->pathB());
        const std::string config =
            WriteConfig({a, b}, "[Misc]\nReconnect=" + std::to_string(reconnect) + "\n");

        const double cpuBefore = ChildCpuSeconds();
        Outcome run;
        std::thread tester([&] { run = Batch({"--batch", "6"}, config); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        Pull(cable);  // gone, and nothing comes back under its names
        tester.join();
        const double cpu = ChildCpuSeconds() - cpuBefore;

        ASSERT_EQ(run.exitCode, 3) << run.output;
        EXPECT_LT(cpu, 2.0) << "CPU seconds of a 6 s run with a dead port";
        std::cout << "[ info ] Reconnect=" << reconnect << ": " << cpu
                  << " CPU s in a 6 s run with both ports dead after 1 s\n";
        for (const Row& row : Rows()) {
            const uint32_t rxErrors = std::stoul(row[kErr].substr(0, row[kErr].find('/')));
            const uint32_t txErrors = std::stoul(row[kErr].substr(row[kErr].find('/') + 1));
            if (reconnect) {
                EXPECT_EQ(row[kDrops], "1") << row[kName];
                EXPECT_EQ(row[kState], "Down");
                EXPECT_LE(rxErrors + txErrors, 2u) << row[kErr];
            } else {
                EXPECT_EQ(row[kDrops], "0");
                // Five seconds dead, about ten a second per direction at most.
                EXPECT_GT(rxErrors, 0u);
                EXPECT_LE(rxErrors, 80u) << row[kErr];
                EXPECT_LE(txErrors, 80u) << row[kErr];
            }
        }
    }
}

// The real device server killed in the middle of a run and started again
// on the same port: the network port is lost once, comes back by itself,
// and blocks flow through it again; the run fails and says why.
TEST_F(BatchRun, ADeviceServerThatRestartsIsReconnected) {
    if (rig::Ser2net::program().empty()) GTEST_SKIP() << rig::Ser2net::missingMessage();
    demo::NullModemCable cable(demo::Pacing::followPort());
    rig::Ser2net::Options options;
    options.device = cable.pathA();
    auto server = std::make_unique<rig::Ser2net>(options);
    std::string why;
    ASSERT_TRUE(server->start(&why)) << why;
    const std::string net = "127.0.0.1:" + std::to_string(server->telnetPort());
    const std::string config = WriteConfig({net, cable.pathB()});

    Outcome run;
    std::thread tester([&] { run = Batch({"--batch", "5"}, config); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const uint64_t before = cable.taken(demo::Dir::AtoB);
    kill(server->pid(), SIGKILL);  // no goodbye to the client
    server->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    options.telnetPort = static_cast<uint16_t>(std::stoi(net.substr(net.find(':') + 1)));
    server = std::make_unique<rig::Ser2net>(options);
    ASSERT_TRUE(server->start(&why)) << why;
    const uint64_t atRestart = cable.taken(demo::Dir::AtoB);
    const auto start = std::chrono::steady_clock::now();
    while (!ClientConnected(options.telnetPort) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(8))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::cout << "[ info ] the tester was connected again "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count()
              << " ms after the device server listened again\n";
    tester.join();

    ASSERT_EQ(run.exitCode, 3) << run.output;
    EXPECT_GT(before, 1024u);
    EXPECT_GT(cable.taken(demo::Dir::AtoB), atRestart + 4096) << "blocks flow again";
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2u) << run.output;
    EXPECT_EQ(rows[0][kDrops], "1");
    EXPECT_EQ(rows[1][kDrops], "0") << "the local end never lost its port";
    for (const Row& row : rows)
        EXPECT_LE(std::stoul(row[kErr].substr(0, row[kErr].find('/'))), 2u)
            << row[kName] << ": at most a realignment and a sequence jump";
    EXPECT_NE(run.output.find("port 1 (" + net + "):"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("lost 1 time"), std::string::npos) << run.output;
}

TEST_F(BatchRun, UnusableCommandLinesExitWithTwo) {
    const Outcome unknown = Vesktest({"--bogus"}, dir_);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown option '--bogus'"), std::string::npos) << unknown.output;
    EXPECT_EQ(Vesktest({"--batch"}, dir_).exitCode, 2);
    EXPECT_EQ(Vesktest({"--drain", "5", "x.ini"}, dir_).exitCode, 2) << "--drain needs --batch";
    const Outcome help = Vesktest({"--help"}, dir_);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--batch SECONDS"), std::string::npos);
}

}  // namespace
