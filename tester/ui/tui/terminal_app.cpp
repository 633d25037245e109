#include "tester/ui/tui/terminal_app.h"

#include <curses.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/win32_types.h"
#include "tester/config/configuration.h"
#include "tester/session/tester_session.h"
#include "tester/engine/port_worker.h"
#include "tester/report/interval_log.h"
#include "tester/report/metrics_file.h"
#include "tester/session/condition_check_command.h"
#include "tester/session/line_check_command.h"
#include "tester/session/port_commands.h"
#include "tester/session/row_store.h"
#include "tester/ui/tui/column_layout.h"
#include "tester/ui/tui/console.h"
#include "tester/ui/tui/curses_ui.h"
#include "tester/ui/tui/dialog_view.h"
#include "tester/ui/tui/main_screen.h"
#include "tester/ui/tui/menu_view.h"
#include "tester/ui/tui/modal_messages.h"
#include "tester/ui/tui/settings_view.h"
#include "platform/stop_request.h"
#include "tester/version/version.h"

namespace {

constexpr int kEscape = 27;

class TerminalFrontEnd {
  public:
    TerminalFrontEnd(RowStore& rows, TesterSession& tester, IntervalLog* log)
        : rows_(rows), tester_(tester), log_(log) {}

    // Serves keys and draws until the operator chooses Exit (or a stop
    // signal arrives), over a session that has started.
    void Run();

  private:
    void Draw();
    std::string StatusText() const;
    void OnKey(int key);
    void OnMainKey(int key);
    void RunItem(const MenuItem& item);
    void OpenContextMenu();
    bool OpenMenuFromAlt();
    void StartLineCheck();
    void StartConditionCheck();

    RowStore& rows_;
    TesterSession& tester_;
    IntervalLog* log_;
    // A line check runs and its results are not up yet; the same for the
    // flow, break and parity checks.
    std::atomic<bool> checking_{false};
    std::atomic<bool> conditionsChecking_{false};
    MainScreen screen_;
    ListPosition position_;
    MenuView menu_;
    SettingsView settings_;
    bool settingsOpen_ = false;
    bool aboutOpen_ = false;
    bool quit_ = false;
    std::vector<RowStore::RowView> shown_;
};

void TerminalFrontEnd::Run() {
    // The window tester's title, naming the platform this program runs on.
    screen_.title = ProgramTitle(PlatformName());
    for (const ColumnDescriptor& column : configuration.columns) {
        const std::string title = column.title ? column.title : "";
        screen_.columnTitles.push_back(title);
        screen_.baseWidths.push_back(CharWidthOf(column.width, title));
    }
    screen_.hints = {"F10 Menu", "Enter Context menu", "Space Select"};
    for (const std::string& hint : KeyHints())
        screen_.hints.push_back(hint);

    while (!quit_) {
        Draw();
        const int key = getch();
        if (log_) log_->Poll(rows_);
        if (plat::stopRequested()) quit_ = true;
        if (key != ERR) OnKey(key);
    }
}

// The settings summary; on a row whose port did not open, why not, in full
// (the error description cell may be too narrow for it), and on a row whose
// port refused the line settings, the reason, which the cell shows only as
// a number. While a line check runs, that it does.
std::string TerminalFrontEnd::StatusText() const {
    const int row = position_.cursor;
    if (row >= 0 && row < static_cast<int>(shown_.size())) {
        const RowStore::RowView& view = shown_[row];
        const PortSnapshot port = view.worker ? view.worker->Snapshot() : PortSnapshot();
        if (view.worker && port.state == PortState::NotOpen && !port.openFailure.empty())
            return view.cells[kColumnName] + ": not opened: " + port.openFailure;
        if (view.worker && port.settingsRefused != 0)
            return view.cells[kColumnName] + ": " + SettingsRefusedText(port);
    }
    if (checking_.load()) return "Checking the modem lines...";
    if (conditionsChecking_.load()) return "Checking flow control, breaks and parity...";
    return configuration.summaryText;
}

void TerminalFrontEnd::Draw() {
    shown_ = rows_.Snapshot();
    screen_.statusText = menu_.IsOpen() ? menu_.Help() : StatusText();
    erase();
    DrawMainScreen(screen_, shown_, position_);
    menu_.DrawBar();
    menu_.DrawOpenMenu(screen_.statusVisible);
    if (settingsOpen_) settings_.Draw();
    if (aboutOpen_) DrawAboutBox();
    ModalMessage message;
    if (TerminalMessages().Front(message)) DrawMessageBox(message);
    refresh();
}

// Keys go to the topmost thing on the screen: a message, the About box,
// the settings form, an open menu, and only then the list.
void TerminalFrontEnd::OnKey(int key) {
    if (key == KEY_RESIZE) {
        // The next Draw lays out anew; the whole screen is sent again, as a
        // terminal that has just been resized may hold anything.
        clearok(curscr, TRUE);
        return;
    }
    ModalMessage message;
    if (TerminalMessages().Front(message)) {
        if (ClosesBox(key)) TerminalMessages().Dismiss();
        return;
    }
    if (aboutOpen_) {
        if (ClosesBox(key)) aboutOpen_ = false;
        return;
    }
    if (settingsOpen_) {
        const SettingsView::Outcome outcome = settings_.HandleKey(key);
        if (outcome == SettingsView::Outcome::Open) return;
        settingsOpen_ = false;
        // The form has stored the settings and rebuilt summaryText, which
        // the status line shows from the next Draw on; the workers go by
        // the session's settings, which take them over.
        if (outcome == SettingsView::Outcome::Ok) {
            tester_.ChangeSettings(configuration.portSettings);
            RunPortCommand(rows_, PortCommand::ApplySettings);
        }
        return;
    }
    if (menu_.IsOpen()) {
        if (const MenuItem* item = menu_.HandleKey(key)) RunItem(*item);
        return;
    }
    OnMainKey(key);
}

void TerminalFrontEnd::OnMainKey(int key) {
    const int count = static_cast<int>(shown_.size());
    const int page = std::max(ListHeight(screen_) - 1, 1);
    switch (key) {
        case KEY_UP:
            position_.cursor = std::max(position_.cursor - 1, 0);
            return;
        case KEY_DOWN:
            position_.cursor = std::min(position_.cursor + 1, std::max(count - 1, 0));
            return;
        case KEY_PPAGE:
            position_.cursor = std::max(position_.cursor - page, 0);
            return;
        case KEY_NPAGE:
            position_.cursor = std::min(position_.cursor + page, std::max(count - 1, 0));
            return;
        case KEY_HOME:
            position_.cursor = 0;
            return;
        case KEY_END:
            position_.cursor = std::max(count - 1, 0);
            return;
        case ' ':
            if (position_.cursor < count)
                rows_.SetRowSelected(position_.cursor, !rows_.IsRowSelected(position_.cursor));
            return;
        case '\r':
        case '\n':
        case KEY_ENTER:
        case KEY_F(22):  // Shift-F10, the window's context-menu key
            OpenContextMenu();
            return;
        case KEY_F(10):
            menu_.OpenBar(0);
            return;
        case kEscape:
            OpenMenuFromAlt();
            return;
        default:
            break;
    }
    if (const MenuItem* item = ItemForKey(key)) RunItem(*item);
}

// Alt and a letter arrives as Esc followed at once by the letter.
bool TerminalFrontEnd::OpenMenuFromAlt() {
    timeout(0);
    const int next = getch();
    timeout(kKeyWaitMs);
    if (next == ERR) return false;
    for (size_t m = 0; m < MenuBar().size(); ++m) {
        if (IsMnemonic(MenuBar()[m].title, next)) {
            menu_.OpenBar(static_cast<int>(m));
            return true;
        }
    }
    return false;
}

// As a right-click on the window's list: a row that is not selected
// becomes the only selected one; on a selected row the selection stays.
void TerminalFrontEnd::OpenContextMenu() {
    const int row = position_.cursor;
    if (row < static_cast<int>(shown_.size()) && !rows_.IsRowSelected(row)) {
        for (int other = 0; other < static_cast<int>(shown_.size()); ++other)
            rows_.SetRowSelected(other, other == row);
    }
    const int line = kFirstRowLine + (position_.cursor - position_.top) + 1;
    menu_.OpenContext(line, kRowGutter + 2);
}

void TerminalFrontEnd::RunItem(const MenuItem& item) {
    switch (item.action) {
        case UiAction::Port:
            RunPortCommand(rows_, item.port);
            break;
        case UiAction::PortsSettings:
            settings_.Open();
            settingsOpen_ = true;
            break;
        case UiAction::ModemLines:
            StartLineCheck();
            break;
        case UiAction::Conditions:
            StartConditionCheck();
            break;
        case UiAction::StatusBar:
            screen_.statusVisible = !screen_.statusVisible;
            break;
        case UiAction::About:
            aboutOpen_ = true;
            break;
        case UiAction::Exit:
            quit_ = true;
            break;
    }
}

// The results come as a box from the check's thread, which waits there
// until the operator closes it, as a port thread waits in its boxes. A
// second check while one runs is not started.
void TerminalFrontEnd::StartLineCheck() {
    std::vector<LineCheckJob> jobs = LineCheckJobsForSelection(rows_);
    if (jobs.empty() || checking_.load()) return;
    checking_.store(true);
    const bool started = tester_.StartLineCheck(
        std::move(jobs), [this](const std::vector<LineCheckOutcome>& outcomes) {
            checking_.store(false);
            TerminalMessages().Show(FormatLineCheckMessage(outcomes).c_str(), kLineCheckCaption,
                                    MB_OK);
        });
    if (!started) checking_.store(false);
}

// As StartLineCheck, for the checks of flow control, breaks and parity.
void TerminalFrontEnd::StartConditionCheck() {
    std::vector<LineCheckJob> jobs = LineCheckJobsForSelection(rows_);
    if (jobs.empty() || conditionsChecking_.load()) return;
    conditionsChecking_.store(true);
    const bool started = tester_.StartConditionCheck(
        std::move(jobs), ConditionChecksOfCommand(), [this](const std::vector<ConditionRun>& runs) {
            conditionsChecking_.store(false);
            TerminalMessages().Show(FormatConditionCheckMessage(runs).c_str(),
                                    kConditionCheckCaption, MB_OK);
        });
    if (!started) conditionsChecking_.store(false);
}

void PrintUnshown() {
    for (const ModalMessage& message : TerminalMessages().TakeUnshown())
        std::fprintf(stderr, "vesktest: %s: %s\n", message.caption.c_str(), message.text.c_str());
}

}  // namespace

int RunTerminalFrontEnd(IntervalLog* log, MetricsFile* metrics) {
    plat::catchStopRequests();
    if (!StdioIsTerminal()) {
        std::fprintf(stderr,
                     "vesktest: the front end needs a terminal; --batch runs without one\n");
        return kExitNoFrontEnd;
    }
    std::unique_ptr<CursesSession> curses(new CursesSession);
    if (!curses->ok()) {
        const char* term = std::getenv("TERM");
        std::fprintf(stderr, "vesktest: cannot use this terminal (TERM=%s)\n", term ? term : "");
        return kExitNoFrontEnd;
    }
    // The rows outlive the front end when a worker's thread outlives the
    // shut-down: such a thread may still write its row.
    auto rows = std::make_unique<RowStore>();
    TesterSession tester(*rows);
    tester.LoadConfiguration();
    // Boxes (the library's) and the workers' notices go to the screen from
    // the first worker on.
    TerminalMessages().Reopen();
    RouteBoxesToTerminal(true);
    tester.SetNoticeHandler([](const Notice& notice) {
        TerminalMessages().Post(notice.text.c_str(), notice.caption.c_str(), MB_OK);
    });
    if (metrics) {
        metrics->SetProblemHandler([](const std::string& text) {
            TerminalMessages().Post(text.c_str(), "Metrics", MB_OK);
        });
        tester.SetRefreshObserver([metrics](const std::vector<PortSnapshot>& ports, bool last) {
            if (last)
                metrics->Finish(ports);
            else
                metrics->Sample(ports);
        });
    }
    if (!tester.Start()) {
        curses.reset();
        std::fprintf(stderr, "vesktest: cannot start the test engine\n");
        return kExitNoFrontEnd;
    }
    // It outlives the session's end: a line check's thread, which that end
    // waits for, may still report to it.
    TerminalFrontEnd front(*rows, tester, log);
    front.Run();

    // Port threads waiting in a box are let go first: the shut-down joins
    // them.
    TerminalMessages().Close();
    tester.Stop([&] {
        if (log) log->Final(*rows);
    });
    if (tester.RowsInUse()) (void)rows.release();
    curses.reset();
    PrintUnshown();
    if (log && !log->Problem().empty())
        std::fprintf(stderr, "vesktest: the log could not be written: %s\n",
                     log->Problem().c_str());
    if (!tester.Save()) std::fprintf(stderr, "vesktest: %s\n", tester.SaveFailure().c_str());
    return kExitClosed;
}
