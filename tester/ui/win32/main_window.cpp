#include "tester/ui/win32/main_window.h"

#include <commctrl.h>

#include <cctype>

#include "platform/message_box.h"
#include "tester/config/configuration.h"
#include "tester/config/metrics_settings.h"
#include "tester/session/condition_check_command.h"
#include "tester/session/line_check_command.h"
#include "tester/session/port_commands.h"
#include "tester/ui/win32/about_dialog.h"
#include "tester/ui/win32/frame_rules.h"
#include "tester/ui/win32/port_settings_dialog.h"
#include "tester/ui/win32/resource.h"
#include "tester/version/version.h"

namespace {

const char kClassName[] = "VeskTestMainWindow";
constexpr UINT kStatusBarId = 0xE801;
constexpr UINT kPortListId = 0xE900;

// How long the shut-down waits for the port threads and refresh ticks
// already waiting on the list to be served. It takes milliseconds; the
// bound only keeps a stuck driver from holding the program open.
constexpr uint32_t kCloseListMs = 5000;

// Posted by a check's thread (the modem lines; flow, break and parity)
// when its results are there.
constexpr UINT kCheckDone = WM_APP + 2;
// Posted by a worker's thread when it has a notice for the operator.
constexpr UINT kNoticesWaiting = WM_APP + 3;

// The menu and accelerator commands that act on the rows.
struct RowCommand {
    UINT id;
    PortCommand command;
};
constexpr RowCommand kRowCommands[] = {
    {ID_PORTS_START_STOP, PortCommand::StartStop},
    {ID_PORTS_READ, PortCommand::Read},
    {ID_PORTS_WRITE, PortCommand::Write},
    {ID_PORTS_HD_MASTER, PortCommand::HdMaster},
    {ID_PORTS_HD_SLAVE, PortCommand::HdSlave},
    {ID_PORTS_ODD, PortCommand::Odd},
    {ID_PORTS_EVEN, PortCommand::Even},
    {ID_PORTS_ALL, PortCommand::All},
    {ID_PORTS_HD_PAIRS, PortCommand::HdPairs},
    {ID_PORTS_CLEAR, PortCommand::Clear},
    {ID_PORTS_PURGE, PortCommand::Purge},
};

}  // namespace

MainWindow::MainWindow() = default;

MainWindow::~MainWindow() {
    // Destroyed here, while the handlers of this class still exist.
    if (hwnd()) DestroyWindow(hwnd());
    if (listFont_) DeleteObject(listFont_);
}

bool MainWindow::Create() {
    return CreateFrame(kClassName, IDR_MAINFRAME, "",
                       WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_APPWINDOW);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate() ? 0 : -1;
        case WM_DESTROY:
            OnDestroy();
            break;  // and the frame's handling: the end of the message loop
        case WM_CONTEXTMENU:
            OnContextMenu();
            return 0;
        case WM_COMMAND:
            if (OnCommand(LOWORD(wParam))) return 0;
            break;
        case kCheckDone:
            OnCheckDone();
            return 0;
        case kNoticesWaiting:
            OnNotices();
            return 0;
        default:
            break;
    }
    return FrameWindow::HandleMessage(message, wParam, lParam);
}

void MainWindow::OnFinalMessage() {
    if (listFont_) DeleteObject(listFont_);
    listFont_ = nullptr;
}

bool MainWindow::OnCreate() {
    session_.LoadConfiguration();
    HWND bar = CreateStatusBar();
    if (!CreatePortList()) return false;
    SetClient(portList_.hwnd());
    SendMessageA(portList_.hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    LOGFONTA font{};
    HGDIOBJ gui = GetStockObject(DEFAULT_GUI_FONT);
    if (gui && GetObjectA(gui, sizeof font, &font)) {
        font.lfHeight = EnlargedFontHeight(font.lfHeight);
        listFont_ = CreateFontIndirectA(&font);
    }
    if (listFont_)
        SendMessageA(portList_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), TRUE);
    SetStatusBar(bar, ID_VIEW_STATUS_BAR);  // and its check mark
    if (MessageLoop* loop = appModule.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    SetWindowTextA(hwnd(), MainWindowTitle().c_str());
    InsertColumns();
    WindowPlacement at = PlacementFromEdges(configuration.windowLeft, configuration.windowTop,
                                            configuration.windowRight, configuration.windowBottom);
    MoveWindow(hwnd(), at.x, at.y, at.width, at.height, TRUE);
    // A worker's notice is a box, shown on this thread: the worker goes on.
    const HWND window = hwnd();
    session_.SetNoticeHandler(
        [this, window](const Notice& notice) { QueueNotice(window, notice); });
    StartMetrics(window);
    if (!session_.Start()) return false;
    created_ = true;
    return true;
}

void MainWindow::QueueNotice(HWND window, const Notice& notice) {
    {
        std::lock_guard<std::mutex> hold(noticeLock_);
        notices_.push_back(notice);
    }
    PostMessageA(window, kNoticesWaiting, 0, 0);
}

void MainWindow::StartMetrics(HWND window) {
    const MetricsSettings wanted = LoadMetricsSettings(configPath);
    if (wanted.file.empty()) return;
    std::string station = wanted.station;
    if (station.empty()) {
        char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
        DWORD size = sizeof name;
        if (GetComputerNameA(name, &size)) station = name;
    }
    metrics_.reset(
        new MetricsFile(wanted.file, wanted.intervalSeconds, MetricLabels{station, wanted.unit}));
    // Said once, in a box; the window and the test go on.
    metrics_->SetProblemHandler([this, window](const std::string& text) {
        std::string sentence = text;
        if (!sentence.empty()) sentence[0] = static_cast<char>(std::toupper(sentence[0]));
        QueueNotice(window, Notice{sentence, "Metrics"});
    });
    MetricsFile* metrics = metrics_.get();
    session_.SetRefreshObserver([metrics](const std::vector<PortSnapshot>& ports, bool last) {
        if (last)
            metrics->Finish(ports);
        else
            metrics->Sample(ports);
    });
}

void MainWindow::OnNotices() {
    for (;;) {
        Notice notice;
        {
            std::lock_guard<std::mutex> hold(noticeLock_);
            if (notices_.empty()) return;
            notice = notices_.front();
            notices_.pop_front();
        }
        // Owner-less, as the program has always shown them.
        plat::messageBox(notice.text.c_str(), notice.caption.c_str(), MB_OK);
    }
}

HWND MainWindow::CreateStatusBar() {
    return CreateStatusWindowA(
        WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
        configuration.summaryText.c_str(), hwnd(), kStatusBarId);
}

bool MainWindow::CreatePortList() {
    return portList_.Create(hwnd(), kPortListId);
}

void MainWindow::InsertColumns() {
    for (int i = 0; i < kColumnCount; ++i) {
        const ColumnDescriptor& column = configuration.columns[i];
        LVCOLUMNA item{};
        item.mask = LVCF_FMT | LVCF_TEXT;
        item.fmt = column.alignment;
        item.pszText = const_cast<char*>(column.title);
        if (column.width != -1) {
            item.mask |= LVCF_WIDTH;
            item.cx = column.width;
        }
        SendMessageA(portList_.hwnd(), LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&item));
    }
}

void MainWindow::OnDestroy() {
    if (created_) {
        // From here no other thread can wait on this one: not a refresh
        // tick and not a port thread, both of which the session's end joins.
        portList_.CloseToOtherThreads(kCloseListMs);
        session_.Stop();
        CapturePlacement();
        // The settings changed in this session would be lost without a word.
        if (!session_.Save())
            plat::messageBox(session_.SaveFailure().c_str(), "Error", MB_OK | MB_ICONWARNING);
    }
    if (MessageLoop* loop = appModule.GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
}

void MainWindow::CapturePlacement() {
    RECT r;
    if (GetWindowRect(hwnd(), &r)) {
        configuration.windowLeft = r.left;
        configuration.windowTop = r.top;
        configuration.windowRight = r.right;
        configuration.windowBottom = r.bottom;
    }
    for (int i = 0; i < kColumnCount; ++i)
        configuration.columns[i].width =
            static_cast<int32_t>(SendMessageA(portList_.hwnd(), LVM_GETCOLUMNWIDTH, i, 0));
}

bool MainWindow::OnCommand(UINT command) {
    for (const RowCommand& row : kRowCommands) {
        if (row.id == command) {
            RunPortCommand(portList_, row.command);
            return true;
        }
    }
    switch (command) {
        case ID_PORTS_SETTINGS:
            OnPortsSettings();
            return true;
        case ID_PORTS_MODEM_LINES:
            OnModemLines();
            return true;
        case ID_PORTS_LINE_CONDITIONS:
            OnLineConditions();
            return true;
        case ID_VIEW_STATUS_BAR:
            ToggleStatusBar();
            return true;
        case ID_APP_ABOUT:
            RunAboutDialog(GetActiveWindow());
            return true;
        case ID_APP_EXIT:
            PostMessageA(hwnd(), WM_CLOSE, 0, 0);
            return true;
        default:
            return false;
    }
}

void MainWindow::OnPortsSettings() {
    PortSettingsDialog dialog;
    if (dialog.Run(GetActiveWindow()) != IDOK) return;
    ShowStatus(configuration.summaryText.c_str());
    // The workers go by the session's settings, which take the form's over.
    session_.ChangeSettings(configuration.portSettings);
    ApplySettingsToSelected(portList_);
}

void MainWindow::ShowStatus(const char* text) {
    if (statusBar())
        SendMessageA(statusBar(), SB_SETTEXTA, 0 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(text));
}

// The check takes seconds (longer when a line does not follow): it runs on
// the session's check thread while the window goes on serving the list and
// the menus, and its results come back as a message. A second check while
// one runs is not started; the status bar says one runs.
void MainWindow::OnModemLines() {
    std::vector<LineCheckJob> jobs = LineCheckJobsForSelection(portList_);
    if (jobs.empty()) return;
    const HWND window = hwnd();
    const bool started = session_.StartLineCheck(
        std::move(jobs), [this, window](const std::vector<LineCheckOutcome>& outcomes) {
            PostCheckResults(window, FormatLineCheckMessage(outcomes), kLineCheckCaption);
        });
    if (started) ShowStatus("Checking the modem lines...");
}

// As the modem-line check: aside, the results in a box.
void MainWindow::OnLineConditions() {
    std::vector<LineCheckJob> jobs = LineCheckJobsForSelection(portList_);
    if (jobs.empty()) return;
    const HWND window = hwnd();
    const bool started = session_.StartConditionCheck(
        std::move(jobs), ConditionChecksOfCommand(),
        [this, window](const std::vector<ConditionRun>& runs) {
            PostCheckResults(window, FormatConditionCheckMessage(runs), kConditionCheckCaption);
        });
    if (started) ShowStatus("Checking flow control, breaks and parity...");
}

void MainWindow::PostCheckResults(HWND window, std::string text, const char* caption) {
    {
        std::lock_guard<std::mutex> hold(checkLock_);
        checkText_ = std::move(text);
        checkCaption_ = caption;
    }
    // Lost when the window is being destroyed: nobody is left to look at
    // the results then.
    PostMessageA(window, kCheckDone, 0, 0);
}

void MainWindow::OnCheckDone() {
    std::string text;
    std::string caption;
    {
        std::lock_guard<std::mutex> hold(checkLock_);
        text.swap(checkText_);
        caption.swap(checkCaption_);
    }
    ShowStatus(configuration.summaryText.c_str());
    MessageBoxA(hwnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

void MainWindow::OnContextMenu() {
    // Where the cursor is now, not where the message says: the key opens
    // the menu too, and then only when the mouse is over the list.
    POINT cursor;
    RECT area;
    if (!GetCursorPos(&cursor) || !GetClientRect(portList_.hwnd(), &area)) return;
    POINT corners[2] = {{area.left, area.top}, {area.right, area.bottom}};
    ClientToScreen(portList_.hwnd(), &corners[0]);
    ClientToScreen(portList_.hwnd(), &corners[1]);
    RECT screen{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    if (!PtInRect(&screen, cursor)) return;
    HMENU menu = LoadMenuA(appModule.instance(), "ContextMenu");
    if (!menu) return;
    if (HMENU popup = GetSubMenu(menu, 0)) {
        if (!MonitorFromPoint(cursor, MONITOR_DEFAULTTONULL)) {
            MONITORINFO info{};
            info.cbSize = sizeof info;
            if (GetMonitorInfoA(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info))
                cursor.x = KeepXInWorkArea(cursor.x, info.rcWork.left, info.rcWork.right);
        }
        TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, hwnd(), nullptr);
    }
    DestroyMenu(menu);
}
