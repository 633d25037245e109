// A floor watched from one place: two stations' unattended runs at once,
// their metrics files served by a real node_exporter's textfile collector
// and collected every second by a real Prometheus, which is then asked
// what a floor would ask: did every port receive, which line stopped,
// what came out. Its own graph page is drawn by headless Chromium, and the
// dashboard's queries run against it and against the runs' PostgreSQL
// history.
#include "tests/batch/batch_rig.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>

#include "tests/support/postgres.h"
#include "tests/support/prometheus.h"

namespace {

using namespace batchrig;
using Series = rig::PrometheusRig::Series;

class FloorRun : public BatchRun {
  protected:
    // The answer to `promql`, which must be a success.
    std::vector<Series> Query(const std::string& promql) {
        std::vector<Series> series;
        std::string error;
        EXPECT_TRUE(prometheus_.query(promql, series, &error)) << promql << ": " << error;
        return series;
    }
    // Polls until `promql` has an answer with at least `count` series (60
    // s at most): Prometheus takes a scrape or two to see a new file.
    std::vector<Series> AwaitSeries(const std::string& promql, size_t count) {
        std::vector<Series> series;
        for (int i = 0; i < 300; ++i) {
            std::string error;
            if (prometheus_.query(promql, series, &error) && series.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return series;
    }

    rig::PrometheusRig prometheus_;
};

std::set<std::string> Ports(const std::vector<Series>& series) {
    std::set<std::string> ports;
    for (const Series& s : series)
        ports.insert(s.labels.at("port"));
    return ports;
}

// The longest run of values that grow one after the other.
size_t LongestRise(const std::vector<double>& values) {
    size_t longest = 0, now = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        now = values[i] > values[i - 1] ? now + 1 : 0;
        longest = std::max(longest, now);
    }
    return longest;
}

TEST_F(FloorRun, PrometheusSeesEveryPortReceiveAndTheLineThatStopped) {
    if (!rig::PrometheusRig::available()) GTEST_SKIP() << rig::PrometheusRig::missingMessage();
    std::string error;
    ASSERT_TRUE(prometheus_.start(&error)) << error;
    rig::PostgresServer history;
    const bool withHistory = !rig::PostgresServer::binDir().empty() && history.start(&error);
    const std::string textfiles = prometheus_.textfileFolder();

    // Station "demo": the demo's own ports. Station "relay": a cable the
    // test holds, which stops carrying one way (to port 2) while it runs.
    demo::NullModemCable relay(demo::Pacing::followPort());
    const std::string config = WriteConfig({relay.pathA(), relay.pathB()});
    auto station = [&](const std::string& name, const std::string& unit) {
        std::vector<std::string> options = {
            "--batch",   "16", "--interval", "1", "--metrics", textfiles + "/" + name + ".prom",
            "--station", name, "--unit",     unit};
        if (withHistory) options.insert(options.end(), {"--db", history.url()});
        return options;
    };
    Outcome demoRun, relayRun;
    std::thread demoStation([&] {
        std::vector<std::string> options = station("demo", "SN-1");
        options.insert(options.begin(), {"--demo", "2"});
        demoRun = Vesktest(options, dir_);
    });
    std::thread relayStation([&] {
        std::vector<std::string> options = station("relay", "SN-2");
        options.insert(options.end(), {"--stall", "2", config});
        relayRun = Vesktest(options, dir_);
    });
    AwaitFlow(relay);
    // Both stations' ports counted by Prometheus before the line stops.
    const std::vector<Series> counted =
        AwaitSeries("vesktest_port_received_bytes_total{station=\"relay\"} > 0", 2);
    EXPECT_EQ(counted.size(), 2u);
    relay.pause(demo::Dir::AtoB);
    demoStation.join();
    relayStation.join();
    EXPECT_EQ(demoRun.exitCode, 0) << demoRun.output;
    ASSERT_EQ(relayRun.exitCode, 3) << relayRun.output;
    // The last files, with the runs' verdicts, collected.
    ASSERT_EQ(AwaitSeries("vesktest_run_running == 0", 2).size(), 2u);

    // Every port of the demo (two pty pairs and, with the network library,
    // a pair through its device server) received, and Prometheus saw it
    // grow: its first value is below its last.
    const std::vector<Series> demoPorts =
        Query("vesktest_port_state{station=\"demo\",state=\"stopped\"}");
    EXPECT_GE(demoPorts.size(), 4u);
    const std::vector<Series> grew = Query(
        "max_over_time(vesktest_port_received_bytes_total[2m]) > "
        "min_over_time(vesktest_port_received_bytes_total[2m])");
    EXPECT_EQ(Ports(Query("vesktest_port_received_bytes_total{station=\"demo\"}")),
              Ports(demoPorts));
    std::set<std::string> grown;
    for (const Series& s : grew)
        grown.insert(s.labels.at("station") + " " + s.labels.at("port"));
    for (const std::string& port : Ports(demoPorts))
        EXPECT_EQ(grown.count("demo " + port), 1u) << port << " did not grow in Prometheus";
    EXPECT_EQ(grown.count("relay " + relay.pathA()), 1u);
    EXPECT_EQ(grown.count("relay " + relay.pathB()), 1u);

    // Port 2 went without a byte from the stop on: its seconds since the
    // last byte grew scrape after scrape, past the stall limit.
    std::vector<Series> idle;
    ASSERT_TRUE(prometheus_.queryRange(
        "vesktest_port_receive_idle_seconds{station=\"relay\",row=\"2\"}", 60, 1, idle, &error))
        << error;
    ASSERT_EQ(idle.size(), 1u);
    EXPECT_GE(LongestRise(idle[0].values), 4u) << ::testing::PrintToString(idle[0].values);
    EXPECT_GE(*std::max_element(idle[0].values.begin(), idle[0].values.end()), 4.0);
    // Its delivery failed; port 1, whose direction kept going, passed.
    auto check = [&](const char* row, const char* result) {
        return Query(
                   std::string("vesktest_port_check{station=\"relay\",check=\"delivery\",row=\"") +
                   row + "\",result=\"" + result + "\"} == 1")
            .size();
    };
    EXPECT_EQ(check("2", "failed"), 1u) << relayRun.output;
    EXPECT_EQ(check("1", "passed"), 1u) << relayRun.output;
    EXPECT_EQ(Query("vesktest_run_outcome{station=\"relay\",outcome=\"FAIL\"} == 1").size(), 1u);
    EXPECT_EQ(Query("vesktest_run_outcome{station=\"demo\",outcome=\"PASS\"} == 1").size(), 1u);

    // The files as the collector served them pass Prometheus' own checker.
    for (const char* name : {"demo", "relay"}) {
        const Outcome lint =
            RunIn(dir_, "promtool check metrics <" + Quote(textfiles + "/" + name + ".prom"));
        EXPECT_EQ(lint.exitCode, 0) << name << ": " << lint.output;
    }

    // Prometheus' own graph of port 1's receive rate, in a browser: the
    // screenshot is kept, the page's curve read from its drawing.
    if (std::string(CHROMIUM_PROGRAM).find("NOTFOUND") == std::string::npos) {
        std::filesystem::create_directories(VESK_ARTIFACTS_DIR);
        const std::string shot = std::string(VESK_ARTIFACTS_DIR) + "/prometheus-graph.png";
        std::filesystem::remove(shot);
        const std::string page =
            prometheus_.url() + "/classic/graph?g0.expr=" +
            rig::UrlEncode(
                "rate(vesktest_port_received_bytes_total{station=\"demo\",row=\"1\"}[3s])") +
            "&g0.tab=0&g0.range_input=1m";
        const std::string browser =
            Quote(CHROMIUM_PROGRAM) +
            " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
            " --disable-background-networking --disable-component-update --disable-sync"
            " --user-data-dir=" +
            Quote(dir_ + "/chromium") + " --window-size=1200,800 --virtual-time-budget=10000 ";
        ASSERT_EQ(std::system((browser + "--screenshot=" + Quote(shot) + " " + Quote(page) +
                               " >/dev/null 2>&1")
                                  .c_str()),
                  0);
        std::printf("screenshot of Prometheus' graph of a port's receive rate: %s\n", shot.c_str());
        EXPECT_GT(ReadText(shot).size(), 20000u) << "a near-empty screenshot";
        const Outcome dom = RunIn(dir_, browser + "--dump-dom " + Quote(page));
        std::smatch path;
        ASSERT_TRUE(
            std::regex_search(dom.output, path, std::regex("<path class=\"path\" d=\"M([^\"]+)\"")))
            << dom.output.substr(0, 4000);
        // The curve: points joined by lines, at more than one height.
        std::set<std::string> heights;
        const std::string d = path[1];
        const std::regex point("[ML,]?([0-9.]+),([0-9.]+)");
        for (auto p = std::sregex_iterator(d.begin(), d.end(), point); p != std::sregex_iterator();
             ++p)
            heights.insert((*p)[2]);
        EXPECT_GE(Count(d, "L"), 5u) << d;
        EXPECT_GE(heights.size(), 3u) << "a flat line, not the rate's rise and fall: " << d;
    } else {
        std::printf("chromium is not installed: Prometheus' graph page was not drawn\n");
    }

    // The dashboard's queries, as Grafana would run them.
    if (!withHistory) GTEST_SKIP() << rig::PostgresServer::missingMessage();
    const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const Outcome dashboard = RunIn(
        dir_, std::string(python) + " " + Quote(DASHBOARD_CHECK) +
                  " --failing 'relay:2:delivery failed' --outcome relay:FAIL --outcome demo:PASS " +
                  Quote(DASHBOARD_JSON) + " " + Quote(prometheus_.url()) + " " +
                  Quote(rig::PostgresServer::binDir() + "/psql") + " " + Quote(history.url()) +
                  " demo relay");
    std::printf("the dashboard's queries:\n%s", dashboard.output.c_str());
    EXPECT_EQ(dashboard.exitCode, 0);
}

}  // namespace
