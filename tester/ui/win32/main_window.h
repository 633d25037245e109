// The tester's only top-level window: the port list (one row per port,
// refreshed twice a second from its worker), the status bar with the
// settings summary, the menus, the popup menu and the key z, and the start
// and the orderly stop of the port workers.
//
// One instance, on the program's first thread, which runs the message loop
// registered with appModule. Create loads the configuration and starts
// everything; the window's destruction stops the workers, stores the
// window's rectangle and column widths and saves the configuration.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "tester/report/metrics_file.h"
#include "tester/session/tester_session.h"
#include "tester/ui/win32/frame_window.h"
#include "tester/ui/win32/list_view_port_list.h"

class MainWindow : public FrameWindow, public IdleHandler {
  public:
    MainWindow();
    ~MainWindow() override;

    // Creates the window (its creation handler does the rest). False when
    // the window could not be created, its creation handler failed
    // included (no test engine); nothing has been saved then.
    bool Create();

    // True once nothing is left that could still use this object: the
    // session never started, or it has ended with every worker freed and no
    // refresh tick running. Otherwise the object, and the port list in it
    // that a surviving thread may still write, must be left allocated.
    bool SafeToDestroy() const { return !session_.RowsInUse(); }

    void OnIdle() override {}

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage() override;

  private:
    bool OnCreate();
    void OnDestroy();
    bool OnCommand(UINT command);
    void OnContextMenu();
    void OnPortsSettings();
    void OnModemLines();
    void OnLineConditions();
    // On a check's thread: its results to the window's thread.
    void PostCheckResults(HWND window, std::string text, const char* caption);
    void OnCheckDone();
    void OnNotices();
    // From any thread: the notice is shown in a box on the window's thread.
    void QueueNotice(HWND window, const Notice& notice);
    // The metrics file of [Metrics] (metrics_settings.h), when it names one.
    void StartMetrics(HWND window);
    void ShowStatus(const char* text);

    HWND CreateStatusBar();
    bool CreatePortList();
    void InsertColumns();
    void CapturePlacement();

    ListViewPortList portList_;
    // The results of a check (one runs at a time), from its thread to the
    // window's; before the session, whose end waits for that thread.
    std::mutex checkLock_;
    std::string checkText_;
    std::string checkCaption_;
    // The workers' notices, from their threads to the window's; before the
    // session, whose end joins those threads.
    std::mutex noticeLock_;
    std::deque<Notice> notices_;
    // Before the session, whose refresh writes it until the session ends.
    std::unique_ptr<MetricsFile> metrics_;
    TesterSession session_{portList_};
    HFONT listFont_ = nullptr;
    bool created_ = false;
};
