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

#include <atomic>

#include "tester/ui/port_workers.h"
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

    // True once the window is gone and nothing is left that could still
    // use this object: every worker was freed and no refresh tick runs.
    // Otherwise the object, and the port list in it that a surviving
    // worker's thread may still write, must be left allocated.
    bool SafeToDestroy() const { return safeToDestroy_; }

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

    HWND CreateStatusBar();
    bool CreatePortList();
    void InsertColumns();
    void StartRefresh();
    // Deletes the refresh timer and waits, serving messages sent to this
    // thread, until no tick runs any more. False when a tick is still
    // running after the bound.
    bool StopRefresh();
    static DWORD WINAPI DeleteRefreshQueue(void* queue);
    static void CALLBACK OnRefreshTimer(void* window, BOOLEAN);
    void CapturePlacement();

    ListViewPortList portList_;
    PortWorkers workers_;
    HFONT listFont_ = nullptr;
    HANDLE refreshQueue_ = nullptr;
    HANDLE refreshTimer_ = nullptr;
    // A tick that finds the one before still running (the window's thread
    // held up) lets it be, instead of piling up on the list.
    std::atomic<bool> ticking_{false};
    bool created_ = false;
    bool safeToDestroy_ = true;
};
