// vesktest --batch as a script runs it: the program itself, over demo ports
// and over cables this test makes (with faults where it wants them), judged
// by its exit code, its table and its CSV.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/wait.h>

#include "tester/demo/cable.h"

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

// One row of the table: the words of a line that starts with a row number.
struct Row {
    std::vector<std::string> cells;
    const std::string& operator[](size_t i) const { return cells.at(i); }
};

std::vector<Row> TableRows(const std::string& output) {
    std::vector<Row> rows;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        Row row;
        for (std::string w; words >> w;)
            row.cells.push_back(w);
        if (!row.cells.empty() && std::isdigit(static_cast<unsigned char>(row.cells[0][0])))
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

    std::string WriteConfig(const std::vector<std::string>& ports) {
        const std::string path = dir_ + "/bench.ini";
        std::ofstream file(path);
        file << "[Ports]\n";
        for (const std::string& port : ports)
            file << port << "\n";
        file << "[Serial]\nBaudRate=115200\n";
        return path;
    }

    std::string dir_;
};

// Ports 1 and 2, 3 and 4... are wired to each other: every block one sent
// is a block the other received whole, because the senders stop first.
void ExpectPairsLossless(const std::vector<Row>& rows) {
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        const Row& a = rows[i];
        const Row& b = rows[i + 1];
        EXPECT_GT(Blocks(a[3]), 10u) << a[1];
        EXPECT_EQ(Blocks(b[2]), Blocks(a[3])) << a[1] << " -> " << b[1];
        EXPECT_EQ(Blocks(a[2]), Blocks(b[3])) << b[1] << " -> " << a[1];
        EXPECT_EQ(Bytes(b[2]), Bytes(a[3])) << a[1] << " -> " << b[1];
        EXPECT_EQ(Bytes(a[2]), Bytes(b[3])) << b[1] << " -> " << a[1];
    }
}

TEST_F(BatchRun, DemoPortsRunCleanAndLoseNoBlock) {
    const Outcome run = Vesktest({"--demo", "2", "--batch", "3"}, dir_);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<Row> rows = TableRows(run.output);
    // Two pairs of pseudo-terminals, and the network pair when the library
    // is beside the program (it is in this build).
    ASSERT_EQ(rows.size(), 6u) << run.output;
    EXPECT_NE(rows[4][1].find("127.0.0.1:"), std::string::npos);
    for (const Row& row : rows) {
        ASSERT_EQ(row.cells.size(), 8u) << run.output;  // the State cell is empty once stopped
        EXPECT_EQ(row[5], "0/0") << row[1];
        EXPECT_EQ(row[6], "....../../0000") << row[1];
        // Paced to 115200 bit/s, 10 bits a character: never faster.
        EXPECT_LE(std::stoul(row[4]), 11520u * 105 / 100) << row[1];
    }
    ExpectPairsLossless(rows);
    EXPECT_NE(run.output.find("passed"), std::string::npos);
}

TEST_F(BatchRun, HalfDuplexPairsOnDemoPorts) {
    const std::string report = dir_ + "/pairs.csv";
    const Outcome run =
        Vesktest({"--demo", "1", "--batch", "3", "--pairs", "--report", report}, dir_);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<Row> rows = TableRows(run.output);
    ASSERT_EQ(rows.size(), 4u) << run.output;
    for (size_t i = 0; i < rows.size(); i += 2) {
        const Row& master = rows[i];
        const Row& slave = rows[i + 1];
        EXPECT_EQ(master.cells.back(), "M") << run.output;
        EXPECT_EQ(slave.cells.back(), "S") << run.output;
        EXPECT_EQ(master[5], "0/0");
        EXPECT_EQ(slave[5], "0/0");
        // The slave got every block the master sent and echoed each; the
        // master saw every echo but possibly the last, which was on its way
        // when it stopped.
        EXPECT_GT(Blocks(master[3]), 3u);
        EXPECT_EQ(Blocks(slave[2]), Blocks(master[3]));
        EXPECT_EQ(Blocks(slave[3]), Blocks(slave[2]));
        EXPECT_GE(Blocks(master[2]) + 1, Blocks(master[3]));
    }

    // The CSV holds the same rows as the table.
    std::ifstream csv(report);
    std::string header, line;
    ASSERT_TRUE(std::getline(csv, header));
    EXPECT_EQ(header, "#,Name,Rx#,Tx#,CPS,Err#,ErrDesc,Time,State\r");
    for (const Row& row : rows) {
        ASSERT_TRUE(std::getline(csv, line));
        EXPECT_EQ(line.substr(0, line.find(',', line.find(',') + 1)), row[0] + "," + row[1]);
        EXPECT_NE(line.find("," + row[2] + "," + row[3] + ","), std::string::npos) << line;
    }
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

    const Outcome run = Vesktest({"--batch", "3", config}, dir_);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = TableRows(run.output);
    ASSERT_EQ(rows.size(), 2u) << run.output;
    const Row& a = rows[0];
    const Row& b = rows[1];
    EXPECT_EQ(a[1], cable.pathA());
    EXPECT_EQ(a[5], "1/0");
    EXPECT_EQ(b[5], "2/0");
    EXPECT_EQ(a[6], "....../SY/0000");
    EXPECT_EQ(b[6], "....../SY/0000");
    EXPECT_EQ(Blocks(b[2]), Blocks(a[3]) - 2);
    EXPECT_EQ(Blocks(a[2]), Blocks(b[3]) - 1);
    EXPECT_EQ(Bytes(b[2]), Bytes(a[3]) - 1);  // the lost byte
    EXPECT_EQ(cable.taken(demo::Dir::AtoB), Bytes(a[3]));
}

TEST_F(BatchRun, APortThatCannotBeOpenedFailsTheRun) {
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config =
        WriteConfig({cable.pathA(), cable.pathB(), "/dev/vesk-no-such-port"});
    const std::string report = dir_ + "/report.csv";
    const Outcome run = Vesktest({"--batch", "2", "--report", report, config}, dir_);
    ASSERT_EQ(run.exitCode, 4) << run.output;
    const std::vector<Row> rows = TableRows(run.output);
    ASSERT_EQ(rows.size(), 3u) << run.output;
    EXPECT_EQ(rows[2].cells,
              (std::vector<std::string>{"3", "/dev/vesk-no-such-port", "Not", "open"}));
    EXPECT_EQ(rows[0][5], "0/0");
    ExpectPairsLossless({rows[0], rows[1]});

    std::ifstream csv(report);
    std::stringstream text;
    text << csv.rdbuf();
    EXPECT_NE(text.str().find("3,/dev/vesk-no-such-port,,,,,,,Not open\r\n"), std::string::npos)
        << text.str();
}

TEST_F(BatchRun, UnusableCommandLinesExitWithTwo) {
    const Outcome unknown = Vesktest({"--bogus"}, dir_);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown option '--bogus'"), std::string::npos) << unknown.output;
    EXPECT_EQ(Vesktest({"--batch"}, dir_).exitCode, 2);
    const Outcome help = Vesktest({"--help"}, dir_);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--batch SECONDS"), std::string::npos);
}

}  // namespace
