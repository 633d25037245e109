// The port list as the window shows it: a "SysListView32" report control
// whose rows follow the PortList rules (port_list.h).
//
// The control belongs to the thread that created it (the window's thread)
// and is touched only there. Every operation called from another thread is
// sent to that thread and the caller waits until it has been served, so a
// port thread or the refresh timer blocks while the window's thread is busy
// elsewhere; on the window's thread the operations run directly. An
// operation that changes more than one row (InsertRow with placeholders)
// runs whole on the window's thread, so concurrent callers never interleave.
#pragma once

#include "platform/win32_types.h"

#include <commctrl.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tester/session/port_list.h"

class ListViewPortList : public PortList {
  public:
    ListViewPortList() = default;
    ~ListViewPortList() override;  // on the window's thread
    ListViewPortList(const ListViewPortList&) = delete;
    ListViewPortList& operator=(const ListViewPortList&) = delete;

    // Creates the control as a visible child of `parent`: report view,
    // selection kept visible without focus, clipping siblings and children,
    // sunken client edge; several rows may be selected. The calling thread
    // becomes the list's thread. False when the control or its dispatch
    // window cannot be created.
    bool Create(HWND parent, UINT id);
    HWND hwnd() const { return list_; }

    // Ends the service to other threads for good: from now on their calls
    // fail at once (false, null or nothing visited), and the calls already
    // waiting are served before this returns, or for at most `timeoutMs`.
    // Call it on the window's thread before that thread stops serving sent
    // messages for long (joins, the window's destruction), so that no
    // thread waits on it. True when no other thread was left waiting.
    bool CloseToOtherThreads(uint32_t timeoutMs);

    bool InsertRow(int32_t rowIndex) override;
    bool SetRowWorker(int32_t rowIndex, PortWorker* worker) override;
    bool SetCellText(int32_t rowIndex, int column, const char* text) override;
    void ForEachRow(bool selectedOnly, const RowVisitor& visit) override;
    PortWorker* GetRowWorker(int32_t row) override;
    bool SetRowSelected(int32_t row, bool selected) override;
    int32_t RowCount() override;
    bool GetCellText(int32_t row, int column, std::string& text) override;
    bool IsRowSelected(int32_t row) override;

  private:
    struct Call {
        void (*run)(void* context);
        void* context;
    };

    // Runs `op` on the window's thread and waits for it. False when the
    // list is gone or closed to the calling thread; `op` did not run then.
    template <typename Op>
    bool OnListThread(Op&& op);
    bool Dispatch(const Call& call);

    static LRESULT CALLBACK DispatchProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam);

    // Sets what `item` names on an existing row, on the window's thread.
    bool SetItem(LVITEMA& item);

    // List's thread only.
    bool InsertItem(int32_t at);
    bool HasRow(int32_t row) const;

    HWND list_ = nullptr;
    HWND dispatch_ = nullptr;
    DWORD threadId_ = 0;
    std::vector<bool> placeholder_;  // one per row, list's thread only

    std::mutex gate_;  // guards closed_, waiting_ and drained_
    bool closed_ = false;
    uint32_t waiting_ = 0;
    HANDLE drained_ = nullptr;  // set when closed_ and waiting_ reaches 0
};
