// The rig of the tests that run vesktest --batch as a script runs it: the
// program itself, over demo ports and over cables the tests make (with
// faults where they want them), judged by its exit code, its table, its
// CSV and its other files. Shared by the batch test programs, each of
// which defines VESKTEST_PROGRAM.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tester/demo/cable.h"

namespace batchrig {

struct Outcome {
    int exitCode = -1;
    std::string output;  // stdout and stderr
};

inline std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line from `directory` and collects what it prints.
inline Outcome RunIn(const std::string& directory, const std::string& commandLine) {
    const std::string command =
        "cd " + Quote(directory) + " && { " + commandLine + "; } 2>&1 </dev/null";
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

// Runs the program from `directory` (where the network library's qelnet.ini
// would be looked for) and collects what it prints; `as` goes before it
// (setpriv and its options, to run it as another user). Its state folder
// (the spool of runs a database could not take) is directory/.state, never
// the user's own.
inline Outcome Vesktest(const std::vector<std::string>& args, const std::string& directory,
                        const std::string& as = "") {
    std::string command = "XDG_STATE_HOME=" + Quote(directory + "/.state") + " exec " +
                          (as.empty() ? "" : as + " ") + Quote(VESKTEST_PROGRAM);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    return RunIn(directory, command);
}

// Seconds of CPU the processes this one has reaped so far have used.
inline double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Whether a connection to 127.0.0.1:port is established (/proc/net/tcp:
// the local address as the host prints the word, the port in hex, state 01).
inline bool ClientConnected(uint16_t port) {
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
    kSource,  // with the wiring probed, as every run but --no-probe has it
    kColumns
};

// What the wiring probe puts on a line before the test: four copies of a
// 15-byte frame (tester/batch/wiring_probe.h). A cable counts them among
// the bytes it took.
constexpr uint64_t kProbeBytes = 60;

// One row of the report: its fields (none of them holds a comma here).
struct Row {
    std::vector<std::string> cells;
    std::shared_ptr<const std::vector<std::string>> titles;  // the report's first line
    const std::string& operator[](size_t i) const { return cells.at(i); }
    // The field under `title`, for the columns a run has only with some
    // options (the measures).
    const std::string& Field(const std::string& title) const {
        const auto at = std::find(titles->begin(), titles->end(), title);
        if (at == titles->end()) throw std::out_of_range("no column " + title);
        return cells.at(static_cast<size_t>(at - titles->begin()));
    }
};

// The fields of a CSV line as RFC 4180 quotes them (texts with commas).
inline std::vector<std::string> SplitFields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            cells.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    if (line.empty()) cells.clear();
    return cells;
}

inline std::vector<Row> ReportRows(const std::string& path) {
    std::vector<Row> rows;
    std::ifstream csv(path);
    std::string line;
    if (!std::getline(csv, line)) return rows;
    const auto titles = std::make_shared<const std::vector<std::string>>(SplitFields(line));
    while (std::getline(csv, line))
        rows.push_back(Row{SplitFields(line), titles});
    return rows;
}

// "bytes/blocks" of a counter cell.
inline uint32_t Blocks(const std::string& pair) {
    return static_cast<uint32_t>(std::stoul(pair.substr(pair.find('/') + 1)));
}
inline uint32_t Bytes(const std::string& pair) {
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

    std::string WriteConfig(const std::vector<std::string>& ports, const std::string& more = "",
                            uint32_t baudRate = 115200) {
        const std::string path = dir_ + "/bench.ini";
        std::ofstream file(path);
        file << "[Ports]\n";
        for (const std::string& port : ports)
            file << port << "\n";
        file << "[Serial]\nBaudRate=" << baudRate << "\n" << more;
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

// Waits (10 s at most) until blocks flow from end A of `cable`, for a
// fault to come in the middle of a run: the tester may take a while to
// start on a busy machine. What has flowed.
inline uint64_t AwaitFlow(const demo::NullModemCable& cable) {
    const auto start = std::chrono::steady_clock::now();
    while (cable.taken(demo::Dir::AtoB) <= 4096 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return cable.taken(demo::Dir::AtoB);
}

// Ports 1 and 2, 3 and 4... are wired to each other: every block one sent
// is a block the other received whole, because the senders stop first.
inline void ExpectPairsLossless(const std::vector<Row>& rows) {
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

// The interval log as a technician reads it: lines of the log file, each
// split into its fields by name.
struct LogLine {
    std::map<std::string, std::string> field;
    const std::string& operator[](const char* name) const { return field.at(name); }
    uint64_t number(const char* name) const { return std::stoull(field.at(name)); }
};

inline std::vector<std::string> SplitCsv(const std::string& line) {
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
inline std::map<std::string, std::vector<LogLine>> ReadLog(const std::string& path) {
    std::map<std::string, std::vector<LogLine>> byPort;
    std::ifstream file(path, std::ios::binary);
    std::string header;
    std::getline(file, header);
    EXPECT_EQ(header,
              "time,port,rx_bytes,rx_blocks,tx_bytes,tx_blocks,rx_rate,tx_rate,rx_errors,"
              "tx_errors,line_errors,line_error_count,error_kind,os_error,state,drops,rx_idle_s\r");
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

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace batchrig
