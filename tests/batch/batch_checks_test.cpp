// vesktest --batch with the checks of flow control, breaks and parity
// (against the demo's device server, with and without its faults, and
// against ser2net), and the records a run leaves for people who keep
// results (JSON, JUnit, a history in SQLite or PostgreSQL).
#include "tests/batch/batch_rig.h"

#include <fcntl.h>

#include <csignal>
#include <regex>

#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"
#include "tester/report/sql_session.h"
#include "tests/support/postgres.h"
#include "tests/support/ser2net.h"

namespace {

using namespace batchrig;

// The demo's network pair (two ports of the device server on a cable paced
// to their speed, their modem lines joined), with the server's faults.
struct ServedPair {
    explicit ServedPair(const demo::LineFaults& faults) {
        a.SetFaultsForTesting(faults);
        b.SetFaultsForTesting(faults);
    }
    demo::NullModemCable line{demo::Pacing::followPort()};
    demo::ModemLink link;
    demo::DeviceServer a{line.pathA(), 921600, &link, 0};
    demo::DeviceServer b{line.pathB(), 921600, &link, 1};
};

// The checks of flow control, breaks and parity before the test, with
// RTS/CTS and even parity set: a network pair that honours them passes
// all three both ways, one whose server ignores the handshake, drops
// breaks and hides parity errors fails each in words, and a pair of
// pseudo-terminals is not supported. Each check's verdict line, the
// result columns and the words in the CSV, the page's section; the failed
// checks fail the run, and the test that follows on the same lines is
// clean on every port.
TEST_F(BatchRun, FlowBreakAndParityChecksPassFailAndAreNotSupported) {
    ServedPair sound({false, false, false});
    ServedPair faulty({true, true, true});
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config =
        WriteConfig({sound.a.PortName(), sound.b.PortName(), faulty.a.PortName(),
                     faulty.b.PortName(), cable.pathA(), cable.pathB()},
                    "Parity=2\nRtsControl=2\nOutxCtsFlow=1\n", 921600);
    const std::string html = dir_ + "/checks.html";
    const Outcome run =
        Batch({"--batch", "2", "--check-flow", "--check-break", "--check-parity", "--html", html},
              config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 6u) << run.output;
    const std::vector<std::string> verdicts = {"passed", "passed",        "failed",
                                               "failed", "not supported", "not supported"};
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i][kName]);
        for (const char* check : {"Flow", "Break", "Parity"})
            EXPECT_EQ(rows[i].Field(check), verdicts[i])
                << check << ": " << rows[i].Field(std::string(check) + "Text");
        EXPECT_EQ(rows[i][kErr], "0/0") << "the test after the checks is clean";
        EXPECT_EQ(rows[i][kLineErr], "0");
        EXPECT_GT(Blocks(rows[i][kRx]), 3u);
        EXPECT_EQ(rows[i].Field("Result"), i == 2 || i == 3 ? "failed" : "passed");
    }
    const std::regex held("RTS/CTS held it off after [0-9.]+ s; [0-9]+ blocks, none lost");
    EXPECT_TRUE(std::regex_match(rows[0].Field("FlowText"), held)) << rows[0].Field("FlowText");
    EXPECT_TRUE(std::regex_match(rows[1].Field("FlowText"), held)) << rows[1].Field("FlowText");
    EXPECT_TRUE(
        std::regex_match(rows[0].Field("BreakText"),
                         std::regex("port 2 reported it; [0-9]+ blocks after it arrived whole")))
        << rows[0].Field("BreakText");
    EXPECT_TRUE(std::regex_match(
        rows[1].Field("ParityText"),
        std::regex("port 1 flagged odd parity; [0-9]+ blocks after it arrived whole")))
        << rows[1].Field("ParityText");
    EXPECT_TRUE(std::regex_match(
        rows[2].Field("FlowText"),
        std::regex("port 3 kept sending for [0-9.]+ s while port 4 did not read: RTS/CTS does "
                   "not hold it off")))
        << rows[2].Field("FlowText");
    EXPECT_EQ(rows[3].Field("BreakText"), "port 3 reported no break within 3.0 s");
    EXPECT_TRUE(std::regex_match(
        rows[2].Field("ParityText"),
        std::regex("port 4 flagged no parity error in [0-9]+ blocks with odd parity")))
        << rows[2].Field("ParityText");
    EXPECT_EQ(rows[4].Field("FlowText"), "not supported");

    const std::string net3 = "port 3 (" + faulty.a.PortName() + ") to port 4: ";
    for (const char* check : {"flow", "break", "parity"})
        EXPECT_NE(run.output.find(std::string("\nvesktest: ") + check +
                                  ": 6 ports, 2 passed, 2 failed, 2 not supported, 0 not "
                                  "checked: FAILED: " +
                                  net3),
                  std::string::npos)
            << check << "\n"
            << run.output;
    EXPECT_NE(run.output.find("6 ports configured, 6 opened, 0 not opened, 2 failing: FAILED: "
                              "port 3 (" +
                              faulty.a.PortName() + "): flow: port 3 kept sending"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(
        std::regex_search(run.output, std::regex("LineErrSeen +Source +Flow +Break +Parity\n")))
        << "the table's result columns\n"
        << run.output;
    for (const demo::DeviceServer* server : {&sound.a, &sound.b, &faulty.a, &faulty.b})
        EXPECT_EQ(server->Clients(), 1u) << server->PortName() << ": no port was lost meanwhile";
    const std::string page = ReadText(html);
    EXPECT_NE(page.find("<h2>Flow control, breaks and parity</h2>"), std::string::npos);
    EXPECT_NE(page.find("port 4 reported no break within 3.0 s"), std::string::npos);
}

// Against ser2net, a device server whose ports here are the two ends of a
// pseudo-terminal cable. The flow check passes: ser2net stops reading the
// device for a client that asks it to pause, and the pty's buffers then
// hold the far sender off, as a handshake would (the pty has none: its
// CRTSCTS does nothing). Breaks and parity fail: ser2net passes the break
// and the parity to its device, which a pty cannot carry, and so reports
// neither. What a pty cannot do shows as failures here, because only the
// device server knows its device is one.
TEST_F(BatchRun, FlowBreakAndParityChecksAgainstSer2net) {
    if (rig::Ser2net::program().empty()) GTEST_SKIP() << rig::Ser2net::missingMessage();
    demo::NullModemCable cable(demo::Pacing::followPort());
    std::vector<std::unique_ptr<rig::Ser2net>> servers;
    std::vector<std::string> ports;
    for (const std::string& device : {cable.pathA(), cable.pathB()}) {
        rig::Ser2net::Options options;
        options.device = device;
        options.lineSettings = "921600e81";
        servers.push_back(std::make_unique<rig::Ser2net>(options));
        std::string why;
        ASSERT_TRUE(servers.back()->start(&why)) << why;
        ports.push_back("127.0.0.1:" + std::to_string(servers.back()->telnetPort()));
    }
    const std::string config =
        WriteConfig(ports, "Parity=2\nRtsControl=2\nOutxCtsFlow=1\n", 921600);
    const Outcome run =
        Batch({"--batch", "2", "--check-flow", "--check-break", "--check-parity"}, config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2u) << run.output;
    for (const Row& row : rows) {
        SCOPED_TRACE(row[kName]);
        EXPECT_EQ(row.Field("Flow"), "passed") << row.Field("FlowText");
        EXPECT_EQ(row.Field("Break"), "failed") << row.Field("BreakText");
        EXPECT_EQ(row.Field("Parity"), "failed") << row.Field("ParityText");
        EXPECT_EQ(row[kErr], "0/0") << "the test after the checks is clean";
    }
    EXPECT_EQ(rows[0].Field("BreakText"), "port 2 reported no break within 3.0 s");
    std::printf("[ info ] ser2net: %s; %s\n", rows[0].Field("FlowText").c_str(),
                rows[0].Field("ParityText").c_str());
}

// The records a run leaves for people who keep results: its JSON record
// and JUnit file are read by Python's parsers (and junitparser) and
// checked field by field against the final table (check_run_record.py);
// the history keeps every run of a unit.
class RecordRun : public BatchRun {
  protected:
    // What check_run_record.py found, and whether it found no mismatch.
    Outcome CheckRecord(const Outcome& run) {
        const std::string output = dir_ + "/output.txt";
        std::ofstream(output, std::ios::binary) << run.output;
        const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        return RunIn(dir_, std::string(python) + " " + Quote(RUN_RECORD_CHECK) + " " +
                               Quote(report()) + " " + Quote(json()) + " " + Quote(junit()) + " " +
                               Quote(output) + " " + std::to_string(run.exitCode));
    }
    std::string json() const { return dir_ + "/run.json"; }
    std::string junit() const { return dir_ + "/run.xml"; }
    std::string spool() const { return dir_ + "/.state/vesktest/spool"; }

    // vesktest in the background, as the rig runs it, what it prints into
    // `output`.
    pid_t Start(const std::vector<std::string>& args, const std::string& output) {
        const pid_t child = fork();
        if (child != 0) return child;
        setenv("XDG_STATE_HOME", (dir_ + "/.state").c_str(), 1);
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir_.c_str()) != 0 || fd < 0) _exit(127);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char*> argv = {const_cast<char*>(VESKTEST_PROGRAM)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(VESKTEST_PROGRAM, argv.data());
        _exit(127);
    }

    static int Finish(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits (10 s at most) until `pid` has its handler for SIGINT: from
    // then on an interrupt is a request to stop (/proc's SigCgt mask).
    static bool AwaitStopHandler(pid_t pid) {
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("SigCgt:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Every file under the test's folder (the spool included) and `more`
    // that holds `secret`.
    std::vector<std::string> HoldersOf(const std::string& secret, const std::string& more) {
        std::vector<std::string> holders;
        if (more.find(secret) != std::string::npos) holders.push_back("what the runs printed");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
            if (entry.is_regular_file() &&
                ReadText(entry.path().string()).find(secret) != std::string::npos)
                holders.push_back(entry.path().string());
        return holders;
    }

    // Two runs of unit SN-7 and the history of that unit: the older one
    // found `first`, the newer passed.
    void TwoRunsOfOneUnit(const std::string& db, const std::string& firstConfig,
                          const std::string& secondConfig, int first) {
        const Outcome older = Batch({"--batch", "2", "--unit", "SN-7", "--db", db}, firstConfig);
        ASSERT_EQ(older.exitCode, first) << older.output;
        const Outcome newer = Batch({"--batch", "1", "--unit", "SN-7", "--db", db}, secondConfig);
        ASSERT_EQ(newer.exitCode, 0) << newer.output;
        const Outcome history = Vesktest({"--history", "--db", db, "--unit", "SN-7"}, dir_);
        ASSERT_EQ(history.exitCode, 0) << history.output;
        std::vector<std::string> lines;
        std::istringstream text(history.output);
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        ASSERT_EQ(lines.size(), 4u) << history.output;
        EXPECT_EQ(lines[0].rfind("2 runs of unit SN-7, newest first", 0), 0u) << history.output;
        EXPECT_NE(lines[2].find(" SN-7 "), std::string::npos) << history.output;
        EXPECT_NE(lines[2].find(" PASS "), std::string::npos) << "newest first\n" << history.output;
        EXPECT_NE(lines[3].find(first == 4 ? " ERROR " : " FAIL "), std::string::npos)
            << history.output;
    }
};

TEST_F(RecordRun, JsonAndJunitSayWhatTheTableSaysAndSqliteKeepsEveryRun) {
    // Port 2 gets one byte of a block changed, port 3 does not exist.
    demo::NullModemCable cable(demo::Pacing::followPort());
    ASSERT_TRUE(cable.inject(demo::Dir::AtoB, demo::Injection::change(3 * 1024 + 952, 0x00)));
    const std::string config =
        WriteConfig({cable.pathA(), cable.pathB(), "/dev/vesk-no-such-port"});
    const std::string db = "sqlite:" + dir_ + "/runs.db";
    const Outcome run =
        Batch({"--batch", "2", "--check-rate", "--unit", "SN-7", "--station", "bench.3",
               "--operator", "Ana \"Q\" <Lopes>", "--json", json(), "--junit", junit(), "--db", db},
              config);
    ASSERT_EQ(run.exitCode, 4) << run.output;
    const Outcome check = CheckRecord(run);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("3 ports compared, 0 mismatches"), std::string::npos)
        << check.output;
    const std::string record = ReadText(json());
    EXPECT_NE(record.find("\"operator\": \"Ana \\\"Q\\\" <Lopes>\""), std::string::npos);
    EXPECT_NE(record.find("\"database\": \"" + db + "\",\n      \"stored\": true"),
              std::string::npos)
        << record;
    EXPECT_NE(ReadText(junit()).find("value=\"Ana &quot;Q&quot; &lt;Lopes&gt;\""),
              std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();

    // The same unit again, cleanly (the fault is behind the cable), then
    // the whole history: a day whose first run of SN-7 did not pass, and
    // the port that could not open.
    const std::string clean = dir_ + "/clean.ini";
    std::filesystem::rename(WriteConfig({cable.pathA(), cable.pathB()}), clean);
    const Outcome again = Batch({"--batch", "1", "--unit", "SN-7", "--db", db}, clean);
    ASSERT_EQ(again.exitCode, 0) << again.output;
    const Outcome all = Vesktest({"--history", "--db", db}, dir_);
    ASSERT_EQ(all.exitCode, 0) << all.output;
    EXPECT_NE(all.output.find("2 runs, newest first"), std::string::npos) << all.output;
    EXPECT_TRUE(std::regex_search(all.output, std::regex("\n\\d{4}-\\d\\d-\\d\\d +1 +0 +0\\.0%\n")))
        << "one unit, its first run failed\n"
        << all.output;
    // Per station and port: the first run was bench.3's, the second the
    // host's.
    EXPECT_TRUE(std::regex_search(
        all.output, std::regex("\nbench\\.3 +/dev/vesk-no-such-port +1 +0 +1 +0\\.0%\n")))
        << all.output;
    EXPECT_TRUE(std::regex_search(
        all.output, std::regex("\nbench\\.3 +" + cable.pathB() + " +1 +1 +0 +0\\.0%\n")))
        << all.output;
    EXPECT_EQ(Count(all.output, " " + cable.pathB() + " "), 2u) << all.output;
    const Outcome one = Vesktest({"--history", "--db", db, "--unit", "SN-7"}, dir_);
    EXPECT_NE(one.output.find("2 runs of unit SN-7"), std::string::npos) << one.output;
    EXPECT_EQ(one.output.find("First-pass yield"), std::string::npos) << "for every unit only";

    // The file made read-only: the run says so and exits 7, and writes its
    // files all the same. Root writes any file, so as root the run is
    // made by "nobody" (over demo ports, which any user may open).
    const bool root = geteuid() == 0;
    const std::string out = dir_ + "/out";
    std::filesystem::create_directory(out);
    std::filesystem::permissions(out, std::filesystem::perms::all);
    std::filesystem::permissions(
        dir_, std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir_ + "/runs.db", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::others_read);
    const std::string prefix = root ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "";
    const Outcome refused =
        Vesktest({"--demo", "1", "--batch", "1", "--unit", "SN-8", "--db", db, "--json",
                  out + "/ro.json", "--junit", out + "/ro.xml", "--report", out + "/ro.csv"},
                 dir_, prefix);
    EXPECT_EQ(refused.exitCode, 7) << refused.output;
    EXPECT_NE(refused.output.find("the history database " + db +
                                  " cannot take runs now: attempt to write a readonly database"),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("vesktest: the run could not be added to the history database " +
                                  db + ": attempt to write a readonly database"),
              std::string::npos)
        << refused.output;
    EXPECT_NE(ReadText(out + "/ro.json").find("\"exit_code\": 7"), std::string::npos);
    EXPECT_NE(ReadText(out + "/ro.json").find("\"stored\": false"), std::string::npos);
    EXPECT_NE(ReadText(out + "/ro.xml").find("<testsuites"), std::string::npos);
    EXPECT_EQ(ReportRows(out + "/ro.csv").size(), 4u);
    EXPECT_NE(Vesktest({"--history", "--db", db}, dir_).output.find("2 runs, newest first"),
              std::string::npos)
        << "the refused run left nothing behind";

    // A schema table someone else has written to: the history refuses it
    // in words (a throwing number parser once ended the program here).
    std::filesystem::permissions(dir_ + "/runs.db", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
    const Outcome tamper =
        RunIn(dir_,
              "python3 -c 'import sqlite3; c = sqlite3.connect(\"runs.db\"); "
              "c.execute(\"UPDATE vesktest_schema SET version = ?\", (\"v2\",)); c.commit()'");
    ASSERT_EQ(tamper.exitCode, 0) << tamper.output;
    const Outcome unreadable = Vesktest({"--history", "--db", db}, dir_);
    EXPECT_EQ(unreadable.exitCode, 7) << unreadable.output;
    EXPECT_NE(unreadable.output.find("vesktest_schema table holds \"v2\", not a version number"),
              std::string::npos)
        << unreadable.output;
}

// The same history in a PostgreSQL server of the test's own, reached by a
// URL with a password (the server trusts the user, so any will do). A
// server that has stopped fails the run with 7, the files written and the
// record kept in the spool folder; the next run that reaches the server
// brings it in, and importing it again stores nothing. No output, file or
// row holds the password.
TEST_F(RecordRun, APostgresqlServerKeepsTheSameHistory) {
    if (rig::PostgresServer::binDir().empty())
        GTEST_SKIP() << rig::PostgresServer::missingMessage();
    rig::PostgresServer server;
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    const std::string secret = "Zq7-pg";
    const std::string url = "postgresql://vesk:" + secret + "@/postgres?host=" + server.folder() +
                            "&port=5432&password=" + secret;
    const std::string shown =
        "postgresql://vesk:***@/postgres?host=" + server.folder() + "&port=5432&password=***";
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config =
        WriteConfig({cable.pathA(), cable.pathB(), "/dev/vesk-no-such-port"});
    const std::string clean = dir_ + "/clean.ini";
    std::ofstream(clean) << "[Ports]\n" << cable.pathA() << "\n" << cable.pathB() << "\n";
    TwoRunsOfOneUnit(url, config, clean, 4);

    server.stop();
    const Outcome stopped =
        Batch({"--batch", "1", "--db", url, "--json", json(), "--junit", junit(), "--html",
               dir_ + "/run.html", "--log", dir_ + "/run.log"},
              clean);
    std::string printed = stopped.output;
    EXPECT_EQ(stopped.exitCode, 7) << stopped.output;
    EXPECT_NE(stopped.output.find("vesktest: the run could not be added to the history database " +
                                  shown + ": connection to server on socket"),
              std::string::npos)
        << stopped.output;
    EXPECT_NE(ReadText(json()).find("\"exit_code\": 7"), std::string::npos);
    EXPECT_NE(ReadText(junit()).find("<property name=\"exit_code\" value=\"7\"/>"),
              std::string::npos);
    EXPECT_EQ(Rows().size(), 2u);
    const Outcome history = Vesktest({"--history", "--db", url}, dir_);
    printed += history.output;
    EXPECT_EQ(history.exitCode, 7) << history.output;
    EXPECT_NE(history.output.find("vesktest: cannot read the history database"), std::string::npos)
        << history.output;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(spool()),
                            std::filesystem::directory_iterator()),
              1);

    ASSERT_TRUE(server.start(&error)) << error;
    const Outcome next = Batch({"--batch", "1", "--db", url}, clean);
    printed += next.output;
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_NE(next.output.find("vesktest: 1 run kept in the spool folder " + spool() +
                               " went into the history database " + shown + "\n"),
              std::string::npos)
        << next.output;
    EXPECT_TRUE(std::filesystem::is_empty(spool()));
    const Outcome all = Vesktest({"--history", "--db", url}, dir_);
    printed += all.output;
    EXPECT_NE(all.output.find("4 runs, newest first"), std::string::npos) << all.output;
    const Outcome again = Vesktest({"--db", url, "--import", json()}, dir_);
    printed += again.output;
    EXPECT_NE(again.output.find(" already in the history\n"), std::string::npos) << again.output;

    auto db = OpenPostgres(server.url(), error);
    ASSERT_TRUE(db) << error;
    SqlRows lines;
    ASSERT_TRUE(db->Run("SELECT command_line FROM runs", {}, &lines, error)) << error;
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        printed += line[0] + "\n";
        EXPECT_NE(line[0].find("--db '" + shown + "'"), std::string::npos) << line[0];
    }
    EXPECT_EQ(HoldersOf(secret, printed), std::vector<std::string>{});
}

// A stop request is an aborted run in every record: Ctrl-C the moment the
// program takes it (no port tested yet) and SIGTERM in the middle of the
// test. Exit code 8, the verdict line says so and what was found, the
// JUnit file has an error of its own and the untested ports skipped, the
// JSON record (valid against the schema) and the history say ABORTED.
TEST_F(RecordRun, ARunStoppedBeforeItsTimeIsAbortedInEveryRecord) {
    demo::NullModemCable cable(demo::Pacing::followPort());
    const std::string config = WriteConfig({cable.pathA(), cable.pathB()});
    const std::string db = "sqlite:" + dir_ + "/runs.db";
    const std::vector<std::string> args = {"--batch", "5",       "--unit", "SN-9",     "--json",
                                           json(),    "--junit", junit(),  "--report", report(),
                                           "--db",    db,        config};
    const std::string output = dir_ + "/output.txt";

    const pid_t early = Start(args, output);
    ASSERT_TRUE(AwaitStopHandler(early));
    kill(early, SIGINT);
    const Outcome interrupted{Finish(early), ReadText(output)};
    EXPECT_EQ(interrupted.exitCode, 8) << interrupted.output;
    EXPECT_NE(interrupted.output.find("0 failing, 2 not tested: aborted after 0.0 s of 5 s, no "
                                      "fault found until then\n"),
              std::string::npos)
        << interrupted.output;
    Outcome check = CheckRecord(interrupted);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(ReadText(junit()).find("failures=\"0\" errors=\"1\" skipped=\"2\""),
              std::string::npos)
        << ReadText(junit());

    const pid_t late = Start(args, output);
    AwaitFlow(cable);
    kill(late, SIGTERM);
    const Outcome terminated{Finish(late), ReadText(output)};
    EXPECT_EQ(terminated.exitCode, 8) << terminated.output;
    EXPECT_TRUE(std::regex_search(
        terminated.output, std::regex("2 opened, 0 not opened, 0 failing: aborted after "
                                      "[0-4]\\.[0-9] s of 5 s, no fault found until then\n")))
        << terminated.output;
    for (const Row& row : Rows())
        EXPECT_EQ(row.Field("Result"), "passed") << "what it found until then";
    check = CheckRecord(terminated);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(ReadText(junit()).find("failures=\"0\" errors=\"1\" skipped=\"0\""),
              std::string::npos)
        << ReadText(junit());

    const Outcome history = Vesktest({"--history", "--db", db}, dir_);
    EXPECT_EQ(Count(history.output, " ABORTED     8 "), 2u) << history.output;
}

// Each output made to fail in turn (its folder missing): the program's
// exit code is the one every record that was written states, the JSON,
// the JUnit file, the database's row and the spooled record alike. The
// password of an ODBC connection string appears in none of them, and a
// spooled run goes into a history by --import, once.
TEST_F(RecordRun, EveryRecordStatesTheExitCodeTheProgramReturns) {
    const std::string secret = "Zq7-pw";
    const std::string file = dir_ + "/runs.db";
    const std::string db = "odbc:Driver=SQLite3;Database=" + file + ";PWD=" + secret;
    const struct {
        const char* option;
        int exitCode;
    } failing[] = {{"--json", 6}, {"--junit", 6}, {"--report", 6}, {"--html", 6}, {"--db", 7}};
    std::string printed;
    for (const auto& f : failing) {
        SCOPED_TRACE(f.option);
        std::filesystem::remove_all(spool());
        auto path = [&](const char* option, const std::string& good) {
            return option == std::string(f.option) ? dir_ + "/missing/" + good : dir_ + "/" + good;
        };
        const std::string jsonPath = path("--json", "run.json");
        const std::string junitPath = path("--junit", "run.xml");
        const Outcome run = Vesktest(
            {"--demo", "1", "--no-probe", "--batch", "1", "--json", jsonPath, "--junit", junitPath,
             "--report", path("--report", "run.csv"), "--html", path("--html", "run.html"), "--db",
             f.option == std::string("--db")
                 ? "odbc:Driver=SQLite3;Database=" + dir_ + "/missing/runs.db;PWD=" + secret
                 : db},
            dir_);
        printed += run.output;
        EXPECT_EQ(run.exitCode, f.exitCode) << run.output;
        const std::string code = std::to_string(run.exitCode);
        const std::string xml = ReadText(junitPath), record = ReadText(jsonPath);
        if (f.option != std::string("--junit")) {
            EXPECT_NE(xml.find("<property name=\"exit_code\" value=\"" + code + "\"/>"),
                      std::string::npos);
        }
        if (f.option != std::string("--json")) {
            EXPECT_NE(record.find("\"exit_code\": " + code + ","), std::string::npos);
        }
        std::smatch id;
        ASSERT_TRUE(std::regex_search(record, id, std::regex("\"id\": \"([^\"]+)\"")) ||
                    std::regex_search(xml, id, std::regex("name=\"run_id\" value=\"([^\"]+)\"")));
        if (f.option != std::string("--db")) {
            std::string error;
            auto session = OpenSqlite(file, false, error);
            ASSERT_TRUE(session) << error;
            SqlRows rows;
            ASSERT_TRUE(
                session->Run("SELECT exit_code FROM runs WHERE id = $1", {id[1]}, &rows, error))
                << error;
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0][0], code) << "the database's row";
            continue;
        }
        // The run the database could not take waits in the spool, with the
        // same code; --import brings it into another history, once.
        const std::string kept = spool() + "/" + id[1].str() + ".json";
        EXPECT_NE(ReadText(kept).find("\"exit_code\": 7,"), std::string::npos) << kept;
        for (const char* said : {" stored\n", " already in the history\n"}) {
            const Outcome import = Vesktest({"--db", db, "--import", kept}, dir_);
            printed += import.output;
            EXPECT_EQ(import.exitCode, 0) << import.output;
            EXPECT_NE(import.output.find(kept + ": run " + id[1].str() + said), std::string::npos)
                << import.output;
        }
    }
    const Outcome history = Vesktest({"--history", "--db", db}, dir_);
    printed += history.output;
    EXPECT_EQ(Count(history.output, "  PASS        6  "), 4u) << history.output;
    EXPECT_EQ(Count(history.output, "  PASS        7  "), 1u) << history.output;
    EXPECT_EQ(HoldersOf(secret, printed), std::vector<std::string>{});
}

}  // namespace
