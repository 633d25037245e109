#include "tester/batch/batch_report.h"

#include <gtest/gtest.h>

#include "tester/batch/html_report.h"
#include "tester/batch/measure_columns.h"
#include "tester/batch/sweep.h"

#include <sstream>

#include "tester/engine/port_worker.h"

namespace {

const std::vector<std::string> kTitles = {"#",    "Name",    "Rx#",  "Tx#",  "CPS",
                                          "Err#", "ErrDesc", "Time", "State"};

// A ready row as the refresh would show it, from the counters.
BatchRow Ready(int number, const char* name, RowValues v) {
    BatchRow row;
    row.ready = true;
    row.cells[0] = std::to_string(number);
    row.cells[1] = name;
    v.commErrorText = "......";
    v.lastErrorKindText = v.rxErrors || v.txErrors ? "SY" : "..";
    const RowCells cells = FormatRowCells(v);
    for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
        row.cells[c] = cells.text[c - kFirstRefreshedColumn];
    row.values = v;
    return row;
}

RowValues Moved(uint32_t rx, uint32_t tx) {
    RowValues v;
    v.bytesRead = rx;
    v.blocksOk = rx / 1024;
    v.bytesWritten = tx;
    v.blocksWritten = tx / 1024;
    return v;
}

BatchRow NotOpen(int number, const char* name) {
    BatchRow row;
    row.cells[0] = std::to_string(number);
    row.cells[1] = name;
    row.cells[8] = "Not open";
    return row;
}

using Problems = std::vector<std::string>;

TEST(BatchVerdict, APortPassesOnlyWithDataBothWaysAndNothingElse) {
    EXPECT_EQ(PortProblems(Ready(1, "A", Moved(4096, 4096))), Problems{});

    RowValues v = Moved(4096, 4096);
    v.rxErrors = 1;
    v.txErrors = 2;
    v.lineErrorCount = 3;
    v.lineErrorBits = CE_OVERRUN | CE_RXPARITY;
    v.drops = 1;
    v.blocksLost = 7;
    EXPECT_EQ(PortProblems(Ready(1, "A", v)),
              (Problems{"1 receive error", "2 send errors", "line errors O.P... 3 times",
                        "lost 1 time", "7 blocks lost"}));

    // Sending into a broken wire counts no error, but is no pass.
    EXPECT_EQ(PortProblems(Ready(1, "A", Moved(0, 8192))), Problems{"received nothing"});
    EXPECT_EQ(PortProblems(Ready(1, "A", Moved(8192, 0))), Problems{"sent nothing"});

    BatchRow missing = NotOpen(1, "COM9");
    missing.openFailure = "Permission denied";
    EXPECT_EQ(PortProblems(missing), Problems{"not opened: Permission denied"});
    BatchRow stuck = NotOpen(1, "COM9");
    stuck.cells[8] = "Open";  // opened, but its buffers could not be had
    EXPECT_EQ(PortProblems(stuck), Problems{"not opened: no buffers for it"});
}

TEST(BatchVerdict, AMasterFailsUnlessEveryBlockCameBack) {
    RowValues master = Moved(10240, 10240);  // 10 blocks sent, 10 back
    master.mode = ModeMaster;
    EXPECT_EQ(PortProblems(Ready(1, "M", master)), Problems{});
    master.blocksWritten = 11;  // the last one still on its way at the stop
    master.replyAwaited = 1;
    EXPECT_EQ(PortProblems(Ready(1, "M", master)), Problems{});
    master.blocksWritten = 14;
    EXPECT_EQ(PortProblems(Ready(1, "M", master)), Problems{"3 of 14 blocks did not come back"});
}

TEST(BatchVerdict, ExitCodeNotOpenedBeatsFailuresBeatsPassed) {
    const BatchRow clean = Ready(1, "A", Moved(2048, 2048));
    RowValues bad = Moved(2048, 2048);
    bad.rxErrors = 3;
    const BatchRow errors = Ready(2, "B", bad);
    const BatchRow silent = Ready(3, "C", Moved(0, 2048));
    BatchRow missing = NotOpen(4, "D");
    missing.openFailure = "No such file or directory";

    EXPECT_EQ(Summarise({clean, clean}, 2).exitCode, kBatchPassed);
    EXPECT_EQ(Summarise({clean, errors}, 2).exitCode, kBatchErrors);
    EXPECT_EQ(Summarise({clean, silent}, 2).exitCode, kBatchErrors);
    EXPECT_EQ(Summarise({clean, errors, missing}, 3).exitCode, kBatchNotOpened);

    // A configured port whose worker could not be made has no row at all.
    const BatchSummary rowless = Summarise({clean, clean}, 3);
    EXPECT_EQ(rowless.exitCode, kBatchNotOpened);
    EXPECT_EQ(rowless.notOpened, 1u);

    // Lines that never went quiet fail a run that is clean otherwise.
    DrainOutcome trickling;
    trickling.quiet = false;
    trickling.seconds = 60;
    trickling.stillReceiving = {0, 1};
    const BatchSummary drained = Summarise({clean, clean}, 2, trickling);
    EXPECT_EQ(drained.exitCode, kBatchErrors);
    EXPECT_EQ(SummaryLine(drained),
              "2 ports configured, 2 opened, 0 not opened, 0 failing: FAILED: "
              "still receiving after 60 s: ports 1, 2");

    const BatchSummary all = Summarise({clean, errors, silent, missing}, 4);
    EXPECT_EQ(all.configured, 4u);
    EXPECT_EQ(all.opened, 3u);
    EXPECT_EQ(all.notOpened, 1u);
    EXPECT_EQ(all.failing, 2u);
    EXPECT_EQ(SummaryLine(all),
              "4 ports configured, 3 opened, 1 not opened, 2 failing: FAILED: "
              "port 2 (B): 3 receive errors; port 3 (C): received nothing; "
              "port 4 (D): not opened: No such file or directory");
    EXPECT_EQ(SummaryLine(Summarise({clean}, 1)),
              "1 ports configured, 1 opened, 0 not opened, 0 failing: passed");
}

// --lines: an output line that reaches nothing fails the port and the run
// (exit code 3), and the verdict line names it; "not supported" and ports
// that were not checked fail nothing by themselves.
TEST(BatchVerdict, AFailedModemLineCheckFailsThePortAndTheRun) {
    auto checked = [](BatchRow row, LineVerdict verdict, const char* text, const char* to) {
        row.lines.checked = true;
        row.lines.verdict = verdict;
        row.lines.text = text;
        row.lines.farEnd = to;
        return row;
    };
    const BatchRow good = checked(Ready(1, "A", Moved(2048, 2048)), LineVerdict::Passed,
                                  "RTS>CTS ok, DTR>DSR ok, DTR>DCD none", "2");
    const BatchRow broken = checked(Ready(2, "B", Moved(2048, 2048)), LineVerdict::Failed,
                                    "RTS>CTS none, DTR>DSR ok, DTR>DCD ok", "1");
    const BatchRow pty = checked(Ready(3, "C", Moved(2048, 2048)), LineVerdict::NotSupported,
                                 "not supported", "loop-back");
    const BatchRow alone =
        checked(Ready(4, "D", Moved(2048, 2048)), LineVerdict::NotChecked, "far end not open", "5");

    EXPECT_EQ(PortProblems(good), Problems{});
    EXPECT_EQ(PortProblems(pty), Problems{});
    EXPECT_EQ(PortProblems(alone), Problems{});
    EXPECT_EQ(PortProblems(broken), Problems{"modem lines: RTS>CTS none, DTR>DSR ok, DTR>DCD ok"});
    EXPECT_EQ(Summarise({good, pty, alone}, 3).exitCode, kBatchPassed);
    const BatchSummary failed = Summarise({good, broken, pty, alone}, 4);
    EXPECT_EQ(failed.exitCode, kBatchErrors);
    EXPECT_EQ(failed.failing, 1u);

    EXPECT_EQ(LinesVerdictLine({good, pty, alone}),
              "lines: 3 ports, 1 passed, 0 failed, 1 not supported, 1 not checked: passed");
    EXPECT_EQ(LinesVerdictLine({good, broken, pty}),
              "lines: 3 ports, 1 passed, 1 failed, 1 not supported, 0 not checked: FAILED: "
              "port 2 (B) to port 1: RTS>CTS none, DTR>DSR ok, DTR>DCD ok");

    // The CSV gains the check's columns only when the run checked lines.
    const std::string csv = FormatCsv({broken}, kTitles);
    EXPECT_NE(csv.find(",LineErrSeen,Result,Lines,LinesResult\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",failed,\"RTS>CTS none, DTR>DSR ok, DTR>DCD ok\",failed\r\n"),
              std::string::npos)
        << csv;
    EXPECT_EQ(FormatCsv({Ready(2, "B", Moved(2048, 2048))}, kTitles).find("Lines"),
              std::string::npos);

    // The flow, break and parity checks the same way: only a failed one
    // fails; the result columns beside the measures, the words after the
    // port's result.
    auto conditioned = [](BatchRow row, ConditionCheck check, LineVerdict verdict,
                          const char* text) {
        BatchConditionCheck& c = row.conditions.of(check);
        c.checked = true;
        c.verdict = verdict;
        c.text = text;
        c.farEnd = "2";
        return row;
    };
    const char* kept =
        "port 1 kept sending for 3.0 s while port 2 did not read: RTS/CTS does "
        "not hold it off";
    const BatchRow unheld = conditioned(Ready(1, "A", Moved(2048, 2048)), ConditionCheck::Flow,
                                        LineVerdict::Failed, kept);
    const BatchRow unset =
        conditioned(Ready(2, "B", Moved(2048, 2048)), ConditionCheck::Flow, LineVerdict::NotChecked,
                    "not checked (no flow control set)");
    EXPECT_EQ(PortProblems(unheld), Problems{std::string("flow: ") + kept});
    EXPECT_EQ(PortProblems(unset), Problems{});
    EXPECT_TRUE(ConditionsFailed({unheld, unset}));
    EXPECT_FALSE(ConditionsFailed({unset}));
    EXPECT_EQ(ConditionVerdictLine({unheld, unset}, ConditionCheck::Flow),
              std::string("flow: 2 ports, 0 passed, 1 failed, 0 not supported, 1 not checked: "
                          "FAILED: port 1 (A) to port 2: ") +
                  kept);
    const std::string flowCsv = FormatCsv({unheld, unset}, kTitles);
    EXPECT_NE(flowCsv.find(",LineErrSeen,Flow,Result,FlowText\r\n"), std::string::npos) << flowCsv;
    EXPECT_NE(flowCsv.find(",failed,failed,port 1 kept sending for 3.0 s while"), std::string::npos)
        << flowCsv;
    EXPECT_NE(FormatTable({unheld, unset}, kTitles).find("LineErrSeen        Flow\n"),
              std::string::npos);
}

TEST(RateCheck, TheLineRateAndWhereItsToleranceEnds) {
    // Start, data, parity, stop: 8N1 and 7E1 take 10 bits, 8E2 12, 5N1.5 7.5.
    EXPECT_EQ(CharacterBits(8, NOPARITY, ONESTOPBIT), 10.0);
    EXPECT_EQ(CharacterBits(7, EVENPARITY, ONESTOPBIT), 10.0);
    EXPECT_EQ(CharacterBits(8, EVENPARITY, TWOSTOPBITS), 12.0);
    EXPECT_EQ(CharacterBits(5, NOPARITY, ONE5STOPBITS), 7.5);
    DCB line{};
    line.BaudRate = 9600;
    line.ByteSize = 5;
    line.Parity = NOPARITY;
    line.StopBits = ONE5STOPBITS;
    EXPECT_EQ(LineBytesPerSecond(line), 1280.0);

    // 3% either way passes; beyond twice the rate the line is not judged.
    const struct {
        double measured;
        RateVerdict verdict;
    } cases[] = {{969.9, RateVerdict::Slow},    {970.1, RateVerdict::Passed},
                 {1029.9, RateVerdict::Passed}, {1030.1, RateVerdict::Fast},
                 {2000.0, RateVerdict::Fast},   {2000.1, RateVerdict::NotPaced},
                 {0.0, RateVerdict::Slow}};
    for (const auto& c : cases)
        EXPECT_EQ(JudgeRate(10000, 1000.0, c.measured).verdict, c.verdict) << c.measured;
    EXPECT_EQ(JudgeRate(0, 0.0, 50.0).verdict, RateVerdict::NotMeasured) << "no speed set";

    EXPECT_EQ(RateProblem(JudgeRate(115200, 11520, 10368)),
              "received 10368 B/s, 10.0% below the line's 11520 B/s");
    EXPECT_EQ(RateProblem(JudgeRate(115200, 11520, 12672)),
              "received 12672 B/s, 10.0% above the line's 11520 B/s");
    for (RateVerdict quiet : {RateVerdict::Passed, RateVerdict::NotPaced, RateVerdict::HalfDuplex,
                              RateVerdict::NotChecked}) {
        RateCheck check;
        check.verdict = quiet;
        EXPECT_EQ(RateProblem(check), "") << RateVerdictText(quiet);
    }
}

// The rate check in a run's verdict, table and CSV; the round trips of the
// masters beside it.
TEST(RateCheck, AVerdictFailsPortsOffTheirRateAndNamesThoseNotPaced) {
    BatchRow slow = Ready(1, "A", Moved(4096, 4096));
    slow.rate = JudgeRate(115200, 11520, 5760);
    BatchRow free = Ready(2, "B", Moved(4096, 4096));
    free.rate = JudgeRate(115200, 11520, 1e6);
    BatchRow right = Ready(3, "C", Moved(4096, 4096));
    right.rate = JudgeRate(115200, 11520, 11500);

    EXPECT_EQ(PortProblems(free), Problems{});
    const BatchSummary s = Summarise({slow, free, right}, 3);
    EXPECT_EQ(s.exitCode, kBatchErrors);
    EXPECT_EQ(SummaryLine(s),
              "3 ports configured, 3 opened, 0 not opened, 1 failing: FAILED: port 1 (A): "
              "received 5760 B/s, 50.0% below the line's 11520 B/s; not a paced line: ports 2");
    EXPECT_EQ(SummaryLine(Summarise({free, right}, 2)),
              "2 ports configured, 2 opened, 0 not opened, 0 failing: passed; not a paced line: "
              "ports 1");

    RowValues m = Moved(2048, 2048);
    m.mode = ModeMaster;
    BatchRow master = Ready(4, "M", m);
    master.roundTrips = LatencySummary{2, 1500, 1500, 178204, 178204};
    RowValues sl = Moved(2048, 2048);
    sl.mode = ModeSlave;
    const std::string csv = FormatCsv({right, master, Ready(5, "S", sl)}, kTitles);
    std::istringstream lines(csv);
    std::string header, first, second, third;
    std::getline(lines, header);
    std::getline(lines, first);
    std::getline(lines, second);
    std::getline(lines, third);
    EXPECT_EQ(header,
              "#,Name,Rx#,Tx#,CPS,Err#,ErrDesc,Time,State,Drops,Lost,LineErr,LineErrSeen,RttMinMs,"
              "RttP50Ms,RttP99Ms,RttMaxMs,RateExpected,RateMeasured,RateRatio,RateCheck,Result\r");
    EXPECT_NE(first.find(",......,,,,,11520.0,11500.0,0.998,passed,passed\r"), std::string::npos)
        << first;
    EXPECT_NE(second.find(",......,1.500,1.500,178.204,178.204,,,,,passed\r"), std::string::npos)
        << second;
    EXPECT_NE(third.find(",......,,,,,,,,,passed\r"), std::string::npos) << third;
}

TEST(Sweep, AVerdictPerSpeedAndOneForTheSweep) {
    SweepStep good;
    good.baudRate = 9600;
    good.rows = {Ready(1, "A", Moved(1024, 1024))};
    good.summary = Summarise(good.rows, 1);
    SweepStep bad = good;
    bad.baudRate = 19200;
    bad.rows[0].rate = JudgeRate(19200, 1920, 960);
    bad.summary = Summarise(bad.rows, 1);

    EXPECT_EQ(SweepStepLine(good), "9600: passed");
    EXPECT_EQ(SweepStepLine(bad),
              "19200: FAILED: port 1 (A): received 960 B/s, 50.0% below "
              "the line's 1920 B/s");
    EXPECT_EQ(SweepSummaryLine({good, good}), "2 speeds swept, 2 passed: passed");
    EXPECT_EQ(SweepExitCode({good, good}), kBatchPassed);
    EXPECT_EQ(SweepSummaryLine({good, bad, bad}),
              "3 speeds swept, 1 passed, 2 failed: FAILED: 19200, 19200");
    EXPECT_EQ(SweepExitCode({good, bad}), kBatchErrors);
    SweepStep missing = good;
    missing.rows.push_back(NotOpen(2, "B"));
    missing.summary = Summarise(missing.rows, 2);
    EXPECT_EQ(SweepExitCode({bad, missing}), kBatchNotOpened);
    EXPECT_EQ(SweepExitCode({}), kBatchErrors) << "nothing swept is no pass";

    const std::string csv = FormatSweepCsv({good, bad}, kTitles);
    EXPECT_EQ(csv.substr(0, csv.find('\r')),
              "BaudRate,#,Name,Rx#,Tx#,CPS,Err#,ErrDesc,Time,State,Drops,Lost,LineErr,LineErrSeen,"
              "RateExpected,RateMeasured,RateRatio,RateCheck,Result");
    EXPECT_NE(csv.find("\n9600,1,A,"), std::string::npos);
    EXPECT_NE(csv.find("\n19200,1,A,"), std::string::npos);
    EXPECT_NE(csv.find(",1920.0,960.0,0.500,too slow,failed\r\n"), std::string::npos) << csv;
}

// Splits a table line at blanks.
std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

TEST(BatchTable, OneRowPerLineWithTheListsCellTexts) {
    RowValues running = Moved(72704, 73728);
    running.rate = 11520;
    running.elapsedMs = 3723000;
    running.rxRunning = running.txRunning = 1;
    const std::vector<BatchRow> rows = {Ready(1, "/dev/pts/3", running), NotOpen(2, "/dev/ttyS9")};
    const std::string table = FormatTable(rows, kTitles);

    std::istringstream in(table);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    std::vector<std::string> titles = kTitles;
    titles.insert(titles.end(), {"Drops", "Lost", "LineErr", "LineErrSeen"});
    EXPECT_EQ(Words(lines[0]), titles);
    EXPECT_EQ(
        Words(lines[1]),
        (std::vector<std::string>{"1", "/dev/pts/3", "72704/71", "73728/72", "11520", "0/0",
                                  "....../../0000", "01:02:03", "Rx/Tx", "0", "0", "0", "......"}));
    EXPECT_EQ(Words(lines[2]), (std::vector<std::string>{"2", "/dev/ttyS9", "Not", "open"}));
    // Right-aligned columns: every line is as long as the header.
    EXPECT_EQ(lines[1].size(), lines[0].size());
    EXPECT_EQ(lines[2].size(), lines[0].size());
}

TEST(BatchTable, CsvQuotesOnlyWhatNeedsIt) {
    BatchRow odd = NotOpen(1, "COM3=a,b");
    odd.cells[1] = "say \"hi\", twice";
    const std::string csv = FormatCsv({odd, Ready(2, "/dev/pts/4", Moved(1024, 1024))}, kTitles);
    EXPECT_EQ(csv,
              "#,Name,Rx#,Tx#,CPS,Err#,ErrDesc,Time,State,Drops,Lost,LineErr,LineErrSeen,Result\r\n"
              "1,\"say \"\"hi\"\", twice\",,,,,,,Not open,,,,,not opened\r\n"
              "2,/dev/pts/4,1024/1,1024/1,0,0/0,....../../0000,00:00:00,,0,0,0,......,passed\r\n");
}

TEST(BatchTable, ProgressCountsOnlyReadyPorts) {
    RowValues a = Moved(1000, 2000);
    a.rxErrors = 1;
    a.rxRunning = 1;
    const std::string line =
        ProgressLine(10, 30, {Ready(1, "A", a), Ready(2, "B", Moved(500, 0)), NotOpen(3, "C")});
    EXPECT_EQ(line, "10/30 s: 1 ports running, 1500 bytes received, 2000 sent, 1 errors");
}

// A night at one sample a second is more than a chart can draw: it is cut
// into runs of samples, yet no mark may be lost, and a mark stays where
// in the night it happened.
TEST(HtmlReport, ALongNightIsDrawnInBoundedPointsWithEveryMark) {
    std::vector<LogSample> night;
    RowValues v;
    for (uint32_t s = 0; s < 43200; ++s) {
        LogSample sample;
        sample.unixSeconds = 1700000000 + s;
        sample.elapsedMs = s * 1000;
        PortSample port;
        port.name = "/dev/ttyUSB0";
        port.ready = true;
        if (s == 30000) ++v.rxErrors;  // three quarters of the way
        if (s == 36000) ++v.txErrors;
        v.bytesRead = s * 11520;
        port.values = v;
        port.rxRate = 11520;
        port.lineErrors = s == 21600 ? "..P..." : "......";
        sample.ports.push_back(port);
        night.push_back(sample);
    }
    HtmlReport report;
    report.titles = kTitles;
    report.rows = {Ready(1, "/dev/ttyUSB0", Moved(1000, 1000))};
    report.samples = &night;
    const std::string page = FormatHtmlReport(report);

    const size_t points = page.find("points=\"");
    ASSERT_NE(points, std::string::npos);
    const std::string list = page.substr(points + 8, page.find('"', points + 8) - points - 8);
    size_t count = 0;
    for (char c : list)
        count += c == ',';
    EXPECT_LE(count, kMaxChartPoints);
    EXPECT_GT(count, kMaxChartPoints / 2);

    // Two error marks and one line-error mark, each at its time: x runs
    // from 70 to 744 over the night.
    auto markX = [&](const std::string& cls, size_t from) {
        const size_t at = page.find("class=\"mark " + cls + "\"", from);
        if (at == std::string::npos) return std::make_pair(-1.0, at);
        const size_t tag = page.rfind('<', at);
        const std::string x = cls == "line-errors" ? "x=\"" : "d=\"M";
        const size_t value = page.find(x, tag) + x.size();
        return std::make_pair(std::stod(page.substr(value)), at);
    };
    const auto first = markX("errors", 0);
    const auto second = markX("errors", first.second + 1);
    EXPECT_NEAR(first.first, 70 + 674.0 * 30000 / 43199, 2.0);
    EXPECT_NEAR(second.first, 70 + 674.0 * 36000 / 43199, 2.0);
    EXPECT_EQ(markX("errors", second.second + 1).first, -1.0);
    EXPECT_NEAR(markX("line-errors", 0).first + 4, 70 + 674.0 * 21600 / 43199, 2.0);
    EXPECT_NE(page.find("line errors ..P..."), std::string::npos);
    EXPECT_EQ(page.find("class=\"mark drops\""), std::string::npos);
}

}  // namespace
