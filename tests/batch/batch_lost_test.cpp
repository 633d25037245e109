// vesktest --batch when ports go away and come back (an adapter pulled and
// plugged in again, a device server restarted, a port dead for good), and
// the log and the page that say when a line went bad.
#include "tests/batch/batch_rig.h"

#include <csignal>
#include <regex>

#include "tests/support/ser2net.h"

namespace {

using namespace batchrig;

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
    std::thread tester([&] {
        run = Batch({"--batch", "8", "--junit", dir_ + "/replug.xml"}, config);
    });
    const uint64_t before = AwaitFlow(*first);
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
        EXPECT_EQ(row.Field("Result"), "failed");
    }
    EXPECT_NE(run.output.find("port 1 (" + a + "):"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("lost 1 time"), std::string::npos) << run.output;
    // For a CI server a lost port is an error, not a mere failure.
    const std::string junit = ReadText(dir_ + "/replug.xml");
    EXPECT_NE(junit.find("tests=\"2\" failures=\"0\" errors=\"2\""), std::string::npos) << junit;
    EXPECT_EQ(Count(junit, "<error message=\""), 2u) << junit;
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
    const std::string log = dir_ + "/restart.csv";
    const std::string html = dir_ + "/restart.html";
    std::thread tester([&] {
        run = Batch({"--batch", "8", "--interval", "1", "--log", log, "--html", html}, config);
    });
    const uint64_t before = AwaitFlow(cable);  // then killed
    kill(server->pid(), SIGKILL);              // no goodbye to the client
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

    // The log says when the port was lost, and the page marks it there.
    const std::vector<LogLine> lines = ReadLog(log).at(net);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front()["drops"], "0");
    EXPECT_EQ(lines.back()["drops"], "1");
    const std::string page = ReadText(html);
    const size_t section = page.find("data-port=\"" + net + "\"");
    ASSERT_NE(section, std::string::npos);
    const std::string chart = page.substr(section, page.find("</section>", section) - section);
    EXPECT_EQ(Count(chart, "class=\"mark drops\""), 1u) << chart;
    EXPECT_EQ(Count(page, "class=\"mark drops\""), 1u) << "the local port was never lost";
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
        Batch({"--batch", "5", "--interval", "1", "--log", log, "--html", html}, config);
    ASSERT_EQ(run.exitCode, 3) << run.output;
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 4u) << run.output;

    const auto byPort = ReadLog(log);
    ASSERT_EQ(byPort.size(), 4u);
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (const Row& row : rows) {
        const std::vector<LogLine>& lines = byPort.at(row[kName]);
        // One sample at the start, one a second for five seconds, some while
        // the line drains, and the last at the end.
        ASSERT_GE(lines.size(), 6u) << row[kName];
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
        EXPECT_GT(fastest, 0u) << row[kName];
        EXPECT_LT(fastest, 2 * 11520u) << row[kName];
        EXPECT_EQ(lines.front().number("rx_errors"), 0u) << row[kName];
        EXPECT_EQ(lines.back()["rx_bytes"] + "/" + lines.back()["rx_blocks"], row[kRx]);
        EXPECT_EQ(lines.back()["tx_bytes"] + "/" + lines.back()["tx_blocks"], row[kTx]);
        EXPECT_EQ(lines.back()["rx_errors"] + "/" + lines.back()["tx_errors"], row[kErr]);
        EXPECT_EQ(lines.back()["drops"], row[kDrops]);
        EXPECT_EQ(lines.back()["line_error_count"], row[kLineErr]);
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
        const size_t at = rendered.find("data-port=\"" + row[kName] + "\"");
        ASSERT_NE(at, std::string::npos) << row[kName];
        const size_t end = rendered.find("</section>", at);
        const std::string section = rendered.substr(at, end - at);
        EXPECT_EQ(Count(section, "<svg class=\"chart\""), 1u) << row[kName];
        const size_t points = section.find("points=\"");
        ASSERT_NE(points, std::string::npos) << row[kName];
        const std::string list = section.substr(points, section.find('"', points + 8) - points);
        EXPECT_GE(Count(list, ","), 6u) << row[kName];
        const bool isBad = row[kName] == faulty.pathB();
        EXPECT_EQ(Count(section, "class=\"mark errors\"") > 0, isBad) << row[kName];
        EXPECT_NE(section.find(isBad ? "data-verdict=\"failed\"" : "data-verdict=\"passed\""),
                  std::string::npos)
            << row[kName];
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

}  // namespace
