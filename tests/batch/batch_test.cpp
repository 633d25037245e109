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

#include <csignal>
#include <regex>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

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

// The interval log as a technician reads it: lines of the log file, each
// split into its fields by name.
struct LogLine {
    std::map<std::string, std::string> field;
    const std::string& operator[](const char* name) const { return field.at(name); }
    uint64_t number(const char* name) const { return std::stoull(field.at(name)); }
};

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// The log's lines by port, in file order. Every line must end with CRLF
// and hold every field.
std::map<std::string, std::vector<LogLine>> ReadLog(const std::string& path) {
    std::map<std::string, std::vector<LogLine>> byPort;
    std::ifstream file(path, std::ios::binary);
    std::string header;
    std::getline(file, header);
    EXPECT_EQ(header,
              "time,port,rx_bytes,rx_blocks,tx_bytes,tx_blocks,rx_rate,tx_rate,rx_errors,"
              "tx_errors,line_errors,error_kind,os_error,state,drops\r");
    const std::vector<std::string> names = SplitCsv(header.substr(0, header.size() - 1));
    for (std::string line; std::getline(file, line);) {
        EXPECT_EQ(line.back(), '\r') << line;
        const std::vector<std::string> values = SplitCsv(line.substr(0, line.size() - 1));
        EXPECT_EQ(values.size(), names.size()) << line;
        LogLine entry;
        for (size_t i = 0; i < names.size() && i < values.size(); ++i)
            entry.field[names[i]] = values[i];
        byPort[entry["port"]].push_back(entry);
    }
    return byPort;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A night's run in miniature: one clean pair, one pair whose line goes bad
// a second or so in. The log must show when (the first sample clean, a
// later one with the error, the last one equal to the final table), and the
// HTML page, rendered by a real browser, must show every port's chart with
// the error marked on the bad port's only.
TEST_F(BatchRun, LogAndHtmlReportShowWhenALineWentBad) {
    demo::NullModemCable clean(demo::Pacing::followPort());
    demo::NullModemCable faulty(demo::Pacing::followPort());
    ASSERT_TRUE(faulty.inject(demo::Dir::AtoB, demo::Injection::change(12 * 1024 + 952, 0x00)));
    const std::string config =
        WriteConfig({clean.pathA(), clean.pathB(), faulty.pathA(), faulty.pathB()});
    const std::string log = dir_ + "/night.csv";
    const std::string html = dir_ + "/night.html";

    const Outcome run =
        Vesktest({"--batch", "5", "--interval", "1", "--log", log, "--html", html, config}, dir_);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = TableRows(run.output);
    ASSERT_EQ(rows.size(), 4u) << run.output;

    const auto byPort = ReadLog(log);
    ASSERT_EQ(byPort.size(), 4u);
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (const Row& row : rows) {
        const std::vector<LogLine>& lines = byPort.at(row[1]);
        // One sample at the start, one a second for five seconds, some while
        // the line drains, and the last at the end.
        ASSERT_GE(lines.size(), 6u) << row[1];
        uint64_t fastest = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i]["time"], iso)) << lines[i]["time"];
            if (i == 0) continue;
            EXPECT_GE(lines[i]["time"], lines[i - 1]["time"]);
            EXPECT_GE(lines[i].number("rx_bytes"), lines[i - 1].number("rx_bytes"));
            EXPECT_GE(lines[i].number("tx_blocks"), lines[i - 1].number("tx_blocks"));
            fastest = std::max(fastest, lines[i].number("rx_rate"));
        }
        // Bytes per second, not per millisecond or per interval: the line
        // runs at 11520 B/s at most.
        EXPECT_GT(fastest, 0u) << row[1];
        EXPECT_LT(fastest, 2 * 11520u) << row[1];
        EXPECT_EQ(lines.front().number("rx_errors"), 0u) << row[1];
        EXPECT_EQ(lines.back()["rx_bytes"] + "/" + lines.back()["rx_blocks"], row[2]);
        EXPECT_EQ(lines.back()["tx_bytes"] + "/" + lines.back()["tx_blocks"], row[3]);
        EXPECT_EQ(lines.back()["rx_errors"] + "/" + lines.back()["tx_errors"], row[5]);
        EXPECT_EQ(lines.back()["drops"], "");  // the engine counts no drops yet
    }
    // The bad line's error shows in a sample between the first and the last.
    const std::vector<LogLine>& bad = byPort.at(faulty.pathB());
    size_t wentBad = 0;
    while (wentBad < bad.size() && bad[wentBad].number("rx_errors") == 0)
        ++wentBad;
    EXPECT_GT(wentBad, 0u);
    EXPECT_LT(wentBad + 1, bad.size());
    EXPECT_EQ(bad.back().number("rx_errors"), 1u);
    EXPECT_EQ(bad[wentBad]["error_kind"], "SY");

    // The page: self-contained, one section per port.
    const std::string page = ReadText(html);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    for (const char* reference : {"src=", "href=", "url(", "@import"})
        EXPECT_EQ(page.find(reference), std::string::npos) << reference;

    if (std::string(CHROMIUM_PROGRAM).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "chromium is not installed: the page was not rendered";
    std::filesystem::create_directories(VESK_ARTIFACTS_DIR);
    const std::string shot = std::string(VESK_ARTIFACTS_DIR) + "/batch-report.png";
    std::filesystem::remove(shot);
    std::filesystem::copy_file(html, std::string(VESK_ARTIFACTS_DIR) + "/batch-report.html",
                               std::filesystem::copy_options::overwrite_existing);
    std::string browser = Quote(CHROMIUM_PROGRAM) +
                          " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update"
                          " --disable-sync --user-data-dir=" +
                          Quote(dir_ + "/chromium") + " --window-size=900,1800";
    const std::string url = Quote("file://" + html);
    ASSERT_EQ(
        std::system(
            (browser + " --screenshot=" + Quote(shot) + " " + url + " >/dev/null 2>&1").c_str()),
        0);
    const std::string png = ReadText(shot);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_GT(png.size(), 20000u) << "a near-empty screenshot";

    const std::string dom = dir_ + "/dom.html";
    ASSERT_EQ(
        std::system((browser + " --dump-dom " + url + " >" + Quote(dom) + " 2>/dev/null").c_str()),
        0);
    const std::string rendered = ReadText(dom);
    EXPECT_EQ(Count(rendered, "<section class=\"port\""), rows.size()) << rendered;
    for (const Row& row : rows) {
        const size_t at = rendered.find("data-port=\"" + row[1] + "\"");
        ASSERT_NE(at, std::string::npos) << row[1];
        const size_t end = rendered.find("</section>", at);
        const std::string section = rendered.substr(at, end - at);
        EXPECT_EQ(Count(section, "<svg class=\"chart\""), 1u) << row[1];
        const size_t points = section.find("points=\"");
        ASSERT_NE(points, std::string::npos) << row[1];
        const std::string list = section.substr(points, section.find('"', points + 8) - points);
        EXPECT_GE(Count(list, ","), 6u) << row[1];
        const bool isBad = row[1] == faulty.pathB();
        EXPECT_EQ(Count(section, "class=\"mark errors\"") > 0, isBad) << row[1];
        EXPECT_NE(section.find(isBad ? "data-verdict=\"errors\"" : "data-verdict=\"clean\""),
                  std::string::npos)
            << row[1];
    }
}

// Each line is flushed as it is written: a run killed outright leaves whole
// lines, the samples it took before.
TEST_F(BatchRun, TheLogKeepsItsLinesWhenTheRunIsKilled) {
    const std::string log = dir_ + "/killed.csv";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("TMPDIR", dir_.c_str(), 1);
        if (chdir(dir_.c_str()) != 0) _exit(127);
        std::freopen("/dev/null", "w", stdout);
        execl(VESKTEST_PROGRAM, VESKTEST_PROGRAM, "--demo", "1", "--batch", "120", "--interval",
              "1", "--log", log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Three samples of the four demo ports, and the header.
    const size_t wanted = 1 + 3 * 4;
    size_t lines = 0;
    for (int i = 0; i < 600 && lines < wanted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lines = Count(ReadText(log), "\r\n");
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_GE(lines, wanted) << "the log did not grow while the run went on";

    const std::string text = ReadText(log);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "a cut line";
    size_t rows = 0;
    for (const auto& port : ReadLog(log))
        rows += port.second.size();
    EXPECT_GE(rows, wanted - 1);
}

TEST_F(BatchRun, UnusableCommandLinesExitWithTwo) {
    const Outcome unknown = Vesktest({"--bogus"}, dir_);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown option '--bogus'"), std::string::npos) << unknown.output;
    EXPECT_EQ(Vesktest({"--batch"}, dir_).exitCode, 2);
    const Outcome noLog = Vesktest({"--batch", "1", "--log", dir_ + "/no/such/dir/x.csv"}, dir_);
    EXPECT_EQ(noLog.exitCode, 2);
    EXPECT_NE(noLog.output.find("cannot open the log"), std::string::npos) << noLog.output;
    const Outcome help = Vesktest({"--help"}, dir_);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--batch SECONDS"), std::string::npos);
}

}  // namespace
