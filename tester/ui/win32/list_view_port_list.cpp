#include "tester/ui/win32/list_view_port_list.h"

#include <commctrl.h>

#include <type_traits>

#include "tester/ui/win32/message_loop.h"

namespace {

constexpr UINT kRunCall = WM_APP + 1;
constexpr LRESULT kServed = 1;
const char kDispatchClass[] = "VeskPortListDispatch";

}  // namespace

ListViewPortList::~ListViewPortList() {
    CloseToOtherThreads(5000);
    if (dispatch_) DestroyWindow(dispatch_);
    if (drained_) CloseHandle(drained_);
}

bool ListViewPortList::Create(HWND parent, UINT id) {
    if (list_) return false;
    HINSTANCE instance = appModule.instance() ? appModule.instance() : GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (!GetClassInfoA(instance, kDispatchClass, &wc)) {
        wc = WNDCLASSA{};
        wc.lpfnWndProc = DispatchProcedure;
        wc.hInstance = instance;
        wc.lpszClassName = kDispatchClass;
        if (!RegisterClassA(&wc)) return false;
    }
    if (!drained_) drained_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!drained_) return false;
    dispatch_ = CreateWindowExA(0, kDispatchClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
    if (!dispatch_) return false;
    list_ = CreateWindowExA(
        WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS,
        0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance, nullptr);
    if (!list_) {
        DestroyWindow(dispatch_);
        dispatch_ = nullptr;
        return false;
    }
    threadId_ = GetCurrentThreadId();
    return true;
}

bool ListViewPortList::CloseToOtherThreads(uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> hold(gate_);
        closed_ = true;
        if (waiting_ == 0) return true;
    }
    return WaitServingSentMessages(drained_, timeoutMs);
}

LRESULT CALLBACK ListViewPortList::DispatchProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
    if (message != kRunCall) return DefWindowProcA(hwnd, message, wParam, lParam);
    const Call* call = reinterpret_cast<const Call*>(lParam);
    call->run(call->context);
    return kServed;
}

bool ListViewPortList::Dispatch(const Call& call) {
    if (GetCurrentThreadId() == threadId_) {
        if (!list_) return false;
        call.run(call.context);
        return true;
    }
    {
        std::lock_guard<std::mutex> hold(gate_);
        if (closed_ || !dispatch_) return false;
        ++waiting_;
    }
    LRESULT served = SendMessageA(dispatch_, kRunCall, 0, reinterpret_cast<LPARAM>(&call));
    {
        std::lock_guard<std::mutex> hold(gate_);
        if (--waiting_ == 0 && closed_) SetEvent(drained_);
    }
    return served == kServed;
}

template <typename Op>
bool ListViewPortList::OnListThread(Op&& op) {
    using Fn = std::remove_reference_t<Op>;
    Call call{[](void* context) { (*static_cast<Fn*>(context))(); }, &op};
    return Dispatch(call);
}

bool ListViewPortList::HasRow(int32_t row) const {
    return row >= 0 && row < ListView_GetItemCount(list_);
}

bool ListViewPortList::InsertItem(int32_t at) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = at;
    item.pszText = const_cast<char*>("");
    item.lParam = 0;
    return SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) == at;
}

bool ListViewPortList::InsertRow(int32_t rowIndex) {
    if (rowIndex < 0) return false;
    bool done = false;
    OnListThread([&] {
        const size_t at = static_cast<size_t>(rowIndex);
        if (at < placeholder_.size()) {
            if (placeholder_[at]) {
                placeholder_[at] = false;
                done = true;
            } else if (InsertItem(rowIndex)) {
                placeholder_.insert(placeholder_.begin() + rowIndex, false);
                done = true;
            }
            return;
        }
        // Rows of workers whose threads have not come yet: placeholders,
        // so that this row lands at its index.
        while (placeholder_.size() < at) {
            if (!InsertItem(static_cast<int32_t>(placeholder_.size()))) return;
            placeholder_.push_back(true);
        }
        if (InsertItem(rowIndex)) {
            placeholder_.push_back(false);
            done = true;
        }
    });
    return done;
}

bool ListViewPortList::SetItem(LVITEMA& item) {
    bool done = false;
    OnListThread([&] {
        if (HasRow(item.iItem))
            done = SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)) != 0;
    });
    return done;
}

bool ListViewPortList::SetRowWorker(int32_t rowIndex, PortWorker* worker) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = rowIndex;
    item.lParam = reinterpret_cast<LPARAM>(worker);
    return SetItem(item);
}

bool ListViewPortList::SetCellText(int32_t rowIndex, int column, const char* text) {
    if (column < 0 || column >= kPortListColumns) return false;
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = rowIndex;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text ? text : "");
    return SetItem(item);
}

void ListViewPortList::ForEachRow(bool selectedOnly, const RowVisitor& visit) {
    const UINT which = selectedOnly ? LVNI_SELECTED : LVNI_ALL;
    for (int32_t row = -1;;) {
        int32_t next = -1;
        if (!OnListThread([&] { next = ListView_GetNextItem(list_, row, which); })) return;
        if (next < 0) return;
        visit(next);
        row = next;
    }
}

PortWorker* ListViewPortList::GetRowWorker(int32_t row) {
    PortWorker* worker = nullptr;
    OnListThread([&] {
        if (!HasRow(row)) return;
        LVITEMA item{};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        if (SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
            worker = reinterpret_cast<PortWorker*>(item.lParam);
    });
    return worker;
}

bool ListViewPortList::SetRowSelected(int32_t row, bool selected) {
    bool done = false;
    OnListThread([&] {
        // Row -1 would mean every row to the control.
        if (!HasRow(row)) return;
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED;
        item.state = selected ? LVIS_SELECTED : 0;
        done = SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item)) != 0;
    });
    return done;
}

int32_t ListViewPortList::RowCount() {
    int32_t count = 0;
    OnListThread([&] { count = ListView_GetItemCount(list_); });
    return count;
}

bool ListViewPortList::GetCellText(int32_t row, int column, std::string& text) {
    if (column < 0 || column >= kPortListColumns) return false;
    bool done = false;
    OnListThread([&] {
        if (!HasRow(row)) return;
        // The control copies at most the buffer less one; a full buffer may
        // mean a longer text, so try again with more room.
        std::string buffer(256, '\0');
        for (;;) {
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = &buffer[0];
            item.cchTextMax = static_cast<int>(buffer.size());
            LRESULT n = SendMessageA(list_, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            if (n < 0) return;
            if (static_cast<size_t>(n) + 1 < buffer.size() || buffer.size() >= 65536) {
                text.assign(buffer.data(), static_cast<size_t>(n));
                done = true;
                return;
            }
            buffer.assign(buffer.size() * 4, '\0');
        }
    });
    return done;
}

bool ListViewPortList::IsRowSelected(int32_t row) {
    bool selected = false;
    OnListThread(
        [&] { selected = HasRow(row) && ListView_GetItemState(list_, row, LVIS_SELECTED) != 0; });
    return selected;
}
