// Reads the tester's window from outside, as another program sees it: the
// title, the status bar and every cell and selection of the port list. For
// the smoke test, which runs the real program and must not trust it to
// report on itself.
//
//   list_probe            prints the window, or exits with 2 when there is none
//
// Output, one item per line:
//   title=<window text>
//   status=<status bar text>
//   rows=<n>
//   row<i>=<cell 0>|<cell 1>|...|<cell 8>|<selected 0/1>
//
// The list belongs to another process: a list-view message that carries a
// pointer needs that pointer in the owner's memory, so the item record and
// the text buffer are placed there (VirtualAllocEx) and read back.
#include "platform/win32_types.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kColumns = 9;
constexpr size_t kTextRoom = 1024;

class RemoteBuffer {
  public:
    RemoteBuffer(HANDLE process, size_t size)
        : process_(process),
          at_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteBuffer() {
        if (at_) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    }
    void* at() const { return at_; }
    bool Write(size_t offset, const void* data, size_t size) {
        SIZE_T done = 0;
        return WriteProcessMemory(process_, static_cast<char*>(at_) + offset, data, size, &done) &&
               done == size;
    }
    bool Read(size_t offset, void* data, size_t size) {
        SIZE_T done = 0;
        return ReadProcessMemory(process_, static_cast<char*>(at_) + offset, data, size, &done) &&
               done == size;
    }

  private:
    HANDLE process_;
    void* at_;
};

std::string CellText(HWND list, RemoteBuffer& remote, int row, int column) {
    LVITEMA item{};
    item.iSubItem = column;
    item.cchTextMax = static_cast<int>(kTextRoom);
    item.pszText = static_cast<char*>(remote.at()) + sizeof(LVITEMA);
    if (!remote.Write(0, &item, sizeof item)) return "<unreadable>";
    LRESULT n = SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote.at()));
    char text[kTextRoom] = {};
    if (n < 0 || !remote.Read(sizeof(LVITEMA), text, kTextRoom)) return "<unreadable>";
    text[kTextRoom - 1] = '\0';
    return text;
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

}  // namespace

int main() {
    HWND main = FindWindowA("VeskTestMainWindow", nullptr);
    if (!main) return 2;
    HWND list = FindWindowExA(main, nullptr, WC_LISTVIEWA, nullptr);
    HWND status = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
    std::printf("title=%s\n", WindowText(main).c_str());
    std::printf("status=%s\n", status ? WindowText(status).c_str() : "<none>");
    if (!list) return 3;
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return 4;
    RemoteBuffer remote(process, sizeof(LVITEMA) + kTextRoom);
    if (!remote.at()) return 4;
    int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    std::printf("rows=%d\n", rows);
    for (int row = 0; row < rows; ++row) {
        std::string line;
        for (int column = 0; column < kColumns; ++column)
            line += CellText(list, remote, row, column) + "|";
        bool selected = SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
        std::printf("row%d=%s%d\n", row, line.c_str(), selected ? 1 : 0);
    }
    CloseHandle(process);
    std::fflush(stdout);
    return 0;
}
