// The metrics for Prometheus: their text from ports in every state, the
// check results a run's rows give, and the file written whole every
// interval (natively and under Wine, where a rename onto an existing file
// is a different call).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/clock.h"
#include "tester/engine/port_worker.h"
#include "tester/report/metrics_file.h"

namespace {

PortSnapshot Port(int32_t row, const char* name, PortState state) {
    PortSnapshot p;
    p.rowIndex = row;
    p.portName = name;
    p.state = state;
    return p;
}

// A reader and writer at work, one lost and waiting to open again, one
// that never opened, one with a name that needs escaping.
std::vector<PortMetrics> Ports() {
    std::vector<PortMetrics> ports(4);
    PortSnapshot& a = ports[0].values = Port(0, "/dev/ttyUSB0", PortState::Open);
    a.rxRunning = a.txRunning = 1;
    a.bytesRead = 5000000000ull;  // past 32 bits
    a.blocksOk = 4882812;
    a.rxErrors = 2;
    a.lineErrorsOfKind[kLineParity] = 3;
    a.rxIdleMs = 1250;
    ports[0].rxRate = 11520;
    PortSnapshot& b = ports[1].values = Port(1, "127.0.0.1:7001", PortState::Down);
    b.mode = ModeMaster;
    b.txRunning = 1;
    b.drops = 3;
    ports[2].values = Port(2, "COM9", PortState::NotOpen);
    ports[3].values = Port(3, "odd \"name\"\\", PortState::Open);
    ports[3].checks[MetricCheck::Delivery] = MetricResult::Failed;
    ports[3].checks[MetricCheck::Rate] = MetricResult::NotSupported;
    return ports;
}

std::string Text() {
    RunMetrics run;
    run.labels = {"bench-3", "SN-1042"};
    run.startedMs = 1777593600123;
    run.ports = Ports();
    run.outcome = OutcomeSoFar(run.ports);
    return FormatMetrics(run);
}

bool Has(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
}

const std::string kA = R"(station="bench-3",unit="SN-1042",port="/dev/ttyUSB0",row="1")";
const std::string kB = R"(station="bench-3",unit="SN-1042",port="127.0.0.1:7001",row="2")";
const std::string kC = R"(station="bench-3",unit="SN-1042",port="COM9",row="3")";
const std::string kD = R"(station="bench-3",unit="SN-1042",port="odd \"name\"\\",row="4")";

TEST(MetricsText, GivesEveryPortItsCountersStateAndKnownChecks) {
    const std::string text = Text();
    EXPECT_TRUE(Has(text, "vesktest_port_received_bytes_total{" + kA + "} 5000000000")) << text;
    EXPECT_TRUE(Has(text, "vesktest_port_receive_errors_total{" + kA + "} 2"));
    EXPECT_TRUE(Has(text, "vesktest_port_line_errors_total{" + kA + ",kind=\"parity\"} 3"));
    EXPECT_TRUE(Has(text, "vesktest_port_line_errors_total{" + kA + ",kind=\"overrun\"} 0"));
    EXPECT_TRUE(Has(text, "vesktest_port_receive_rate_bytes_per_second{" + kA + "} 11520"));
    EXPECT_TRUE(Has(text, "vesktest_port_receive_idle_seconds{" + kA + "} 1.250"));
    EXPECT_TRUE(Has(text, "vesktest_port_state{" + kA + ",state=\"both\"} 1"));
    EXPECT_TRUE(Has(text, "vesktest_port_state{" + kA + ",state=\"reading\"} 0"));
    // Lost three times, down now: opened again twice so far.
    EXPECT_TRUE(Has(text, "vesktest_port_lost_total{" + kB + "} 3"));
    EXPECT_TRUE(Has(text, "vesktest_port_reconnects_total{" + kB + "} 2"));
    EXPECT_TRUE(Has(text, "vesktest_port_state{" + kB + ",state=\"lost\"} 1"));
    // A port that never opened has a state and nothing to count.
    EXPECT_TRUE(Has(text, "vesktest_port_state{" + kC + ",state=\"not open\"} 1"));
    EXPECT_EQ(text.find("vesktest_port_received_bytes_total{" + kC), std::string::npos);
    // Checks appear once known, all four results of each.
    EXPECT_TRUE(
        Has(text, "vesktest_port_check{" + kD + ",check=\"delivery\",result=\"failed\"} 1"));
    EXPECT_TRUE(
        Has(text, "vesktest_port_check{" + kD + ",check=\"delivery\",result=\"passed\"} 0"));
    EXPECT_TRUE(
        Has(text, "vesktest_port_check{" + kD + ",check=\"rate\",result=\"not supported\"} 1"));
    EXPECT_EQ(text.find("check=\"wiring\""), std::string::npos);
    EXPECT_EQ(text.find("vesktest_port_check{" + kA), std::string::npos);
    // A port that did not open makes the run an ERROR so far.
    EXPECT_TRUE(
        Has(text, R"(vesktest_run_outcome{station="bench-3",unit="SN-1042",outcome="ERROR"} 1)"));
    EXPECT_TRUE(Has(text, R"(vesktest_run_running{station="bench-3",unit="SN-1042"} 1)"));
    EXPECT_TRUE(
        Has(text,
            R"(vesktest_run_start_time_seconds{station="bench-3",unit="SN-1042"} 1777593600.123)"));
}

TEST(MetricsText, OutcomeSoFarIsFailOnAnyCountedFaultOrFailedCheck) {
    std::vector<PortMetrics> ports(2);
    ports[0].values = Port(0, "A", PortState::Open);
    ports[1].values = Port(1, "B", PortState::Opening);
    EXPECT_EQ(OutcomeSoFar(ports), RunOutcome::Pass);
    ports[0].values.lineErrorCount = 1;
    EXPECT_EQ(OutcomeSoFar(ports), RunOutcome::Fail);
    ports[0].values.lineErrorCount = 0;
    ports[1].checks[MetricCheck::Wiring] = MetricResult::Failed;
    EXPECT_EQ(OutcomeSoFar(ports), RunOutcome::Fail);
}

TEST(MetricsChecks, FollowTheVerdictOfEachCheckTheRowCarries) {
    BatchRow row;
    row.ready = true;
    row.values.rowIndex = 0;
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Wiring], MetricResult::Unknown);
    row.source = "2";
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Wiring], MetricResult::Passed);
    row.declared = "3";
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Wiring], MetricResult::Failed);
    row.declared.clear();
    row.source = "2+3";
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Wiring], MetricResult::Failed);
    row.source = "none";
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Wiring], MetricResult::NotChecked);

    row.delivery = Delivery{true, 1, 100, 102400, 100, 102400, 0};
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Delivery], MetricResult::Passed);
    row.delivery.cutShort = 10;
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Delivery], MetricResult::Failed);

    row.rate.verdict = RateVerdict::Slow;
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Rate], MetricResult::Failed);
    row.rate.verdict = RateVerdict::HalfDuplex;
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Rate], MetricResult::NotSupported);
    row.rate.verdict = RateVerdict::NotMeasured;
    EXPECT_EQ(ChecksOfRow(row)[MetricCheck::Rate], MetricResult::NotChecked);

    row.conditions.breaks = BatchConditionCheck{true, LineVerdict::NotSupported, "", ""};
    row.lines = BatchLineCheck{true, LineVerdict::Failed, "RTS>CTS none", "2"};
    const PortChecks checks = ChecksOfRow(row);
    EXPECT_EQ(checks[MetricCheck::Break], MetricResult::NotSupported);
    EXPECT_EQ(checks[MetricCheck::Flow], MetricResult::Unknown);
    EXPECT_EQ(checks[MetricCheck::ModemLines], MetricResult::Failed);

    row.ready = false;
    for (MetricResult result : ChecksOfRow(row).of)
        EXPECT_EQ(result, MetricResult::Unknown)
            << "a port that did not open was checked for nothing";
}

class MetricsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vesk-metrics-" + std::to_string(plat::tickCount()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Read(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
};

TEST_F(MetricsFileTest, WritesAtOnceThenEachIntervalAndLastWithTheOutcome) {
    const std::filesystem::path path = dir_ / "vesktest.prom";
    MetricsFile metrics(path.string(), 1, {"bench-3", ""});
    std::vector<PortSnapshot> ports = {Port(0, "COM1", PortState::Open)};
    metrics.Sample(ports);
    EXPECT_EQ(metrics.Writes(), 1u);
    EXPECT_NE(Read(path).find("vesktest_port_received_bytes_total{station=\"bench-3\",unit=\"\","
                              "port=\"COM1\",row=\"1\"} 0"),
              std::string::npos)
        << Read(path);
    ports[0].bytesRead = 20000;
    metrics.Sample(ports);
    EXPECT_EQ(metrics.Writes(), 1u) << "not again before the interval";
    const uint32_t start = plat::tickCount();
    while (metrics.Writes() < 2 && plat::ticksBetween(start, plat::tickCount()) < 10000) {
        plat::sleepMs(100);
        metrics.Sample(ports);
    }
    ASSERT_EQ(metrics.Writes(), 2u);
    // 20000 bytes over a little more than a second.
    std::smatch rate;
    const std::string text = Read(path);
    ASSERT_TRUE(std::regex_search(text, rate,
                                  std::regex("receive_rate_bytes_per_second\\{[^}]*\\} (\\d+)")));
    EXPECT_GT(std::stoul(rate[1]), 10000u);
    EXPECT_LE(std::stoul(rate[1]), 20000u);

    metrics.SetChecks({PortChecks()});
    ports[0].rxRunning = ports[0].txRunning = 1;  // as the last look found it
    ports[0].rxIdleMs = 700;
    metrics.Finish(ports, RunOutcome::Aborted);
    const std::string last = Read(path);
    EXPECT_NE(last.find("row=\"1\",state=\"stopped\"} 1"), std::string::npos) << last;
    EXPECT_NE(
        last.find(
            "receive_idle_seconds{station=\"bench-3\",unit=\"\",port=\"COM1\",row=\"1\"} 0.000"),
        std::string::npos);
    EXPECT_NE(last.find("vesktest_run_running{station=\"bench-3\",unit=\"\"} 0"),
              std::string::npos);
    EXPECT_NE(last.find("outcome=\"ABORTED\"} 1"), std::string::npos) << last;
    metrics.Sample(ports);
    EXPECT_EQ(metrics.Writes(), 3u) << "nothing after the last file";
    // The temporary files are gone: a textfile collector sees one file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_TRUE(metrics.Problem().empty());
}

TEST_F(MetricsFileTest, AFileThatCannotBeWrittenIsToldOnceAndTriedAgain) {
    const std::filesystem::path path = dir_ / "gone" / "vesktest.prom";
    MetricsFile metrics(path.string(), 1, {"s", "u"});
    std::vector<std::string> told;
    metrics.SetProblemHandler([&](const std::string& text) { told.push_back(text); });
    const std::vector<PortSnapshot> ports = {Port(0, "COM1", PortState::Open)};
    metrics.Sample(ports);
    metrics.Finish(ports);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind("cannot write the metrics file '" + path.string() + "': ", 0), 0u)
        << told[0];
    EXPECT_FALSE(metrics.Problem().empty());
    // The folder is back (the collector's folder made late): the next write
    // goes through.
    std::filesystem::create_directories(path.parent_path());
    metrics.Finish(ports);
    EXPECT_EQ(metrics.Writes(), 1u);
    EXPECT_EQ(told.size(), 1u);
}

#ifdef PROMTOOL_PROGRAM
// Prometheus' own checker of the text format and its naming rules.
TEST_F(MetricsFileTest, PassesPromtool) {
    const std::filesystem::path path = dir_ / "all.prom";
    std::ofstream(path, std::ios::binary) << Text();
    const std::string command =
        std::string(PROMTOOL_PROGRAM) + " check metrics <" + path.string() + " 2>&1";
    FILE* check = popen(command.c_str(), "r");
    ASSERT_NE(check, nullptr);
    std::string said;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, check)) > 0;)
        said.append(buffer, n);
    EXPECT_EQ(pclose(check), 0) << said;
    EXPECT_EQ(said, "");
}
#endif

}  // namespace
