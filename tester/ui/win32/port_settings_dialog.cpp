#include "tester/ui/win32/port_settings_dialog.h"

#include <string>
#include <vector>

#include "tester/ui/win32/about_dialog.h"
#include "tester/ui/win32/message_loop.h"
#include "tester/ui/win32/resource.h"

namespace {

constexpr int kComboIds[] = {IDC_BYTE_SIZE, IDC_PARITY, IDC_STOP_BITS, IDC_RTS_CONTROL,
                             IDC_DTR_CONTROL};
constexpr int kCheckIds[] = {IDC_OUTX_CTS_FLOW, IDC_OUTX_DSR_FLOW, IDC_DSR_SENSITIVITY,
                             IDC_OUT_X,         IDC_IN_X,          IDC_TX_CONTINUE_ON_XOFF};
constexpr int kPresetCount = 5;  // IDC_PRESET_NONE .. IDC_PRESET_CUSTOM

bool IsOneOf(int id, const int* ids, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (ids[i] == id) return true;
    return false;
}

template <size_t N>
bool IsOneOf(int id, const int (&ids)[N]) {
    return IsOneOf(id, ids, N);
}

bool IsEdit(int id) {
    return id == IDC_BLOCK_SIZE || id == IDC_BAUD_RATE || id == IDC_HD_TIMEOUT;
}

}  // namespace

INT_PTR PortSettingsDialog::Run(HWND owner) {
    INT_PTR result = DialogBoxParamA(appModule.instance(), MAKEINTRESOURCEA(IDD_PORT_SETTINGS),
                                     owner, Procedure, reinterpret_cast<LPARAM>(this));
    dialog_ = nullptr;
    return result == IDOK ? IDOK : IDCANCEL;
}

void PortSettingsDialog::Beep() {
    MessageBeep(0xFFFFFFFF);
}

INT_PTR CALLBACK PortSettingsDialog::Procedure(HWND dialog, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    PortSettingsDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<PortSettingsDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        self->dialog_ = dialog;
        return self->OnInit() ? TRUE : FALSE;
    }
    self = reinterpret_cast<PortSettingsDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self || message != WM_COMMAND) return FALSE;
    self->OnCommand(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
}

bool PortSettingsDialog::OnInit() {
    // The lists in their fixed order, each entry at its own position.
    for (int id : kComboIds) {
        std::vector<const char*> items = PortSettingsForm::ComboItems(id);
        for (size_t i = 0; i < items.size(); ++i)
            SendDlgItemMessageA(dialog_, id, CB_INSERTSTRING, i,
                                reinterpret_cast<LPARAM>(items[i]));
        ShowWholeList(GetDlgItem(dialog_, id));
    }
    form_.Load();

    // Filling the two edits is a change of their text like any other: a
    // stored value out of range beeps and takes the focus at once.
    bool focusMoved = false;
    filling_ = true;
    for (int id : {IDC_BLOCK_SIZE, IDC_BAUD_RATE}) {
        ShowText(id);
        if (!ReportText(id, form_.TextOf(id))) focusMoved = true;
    }
    for (int id : {IDC_BYTE_SIZE, IDC_PARITY, IDC_STOP_BITS})
        ShowText(id);
    if (form_.Preset() >= 0 && form_.Preset() < kPresetCount)
        CheckRadioButton(dialog_, IDC_PRESET_NONE, IDC_PRESET_CUSTOM,
                         IDC_PRESET_NONE + form_.Preset());
    ShowHandshake();
    ShowText(IDC_HD_TIMEOUT);
    filling_ = false;
    SetDlgItemTextA(dialog_, IDC_DEFAULT_TIMEOUT, form_.DefaultTimeoutText().c_str());

    CenterOverOwner(dialog_);
    OnShown(dialog_);
    // TRUE lets the dialog put the focus on its first control; not when a
    // refused value has taken it.
    return !focusMoved;
}

// A drop-down combo box takes the height it is given as that of its
// dropped list too: at the template's 13 units the list opens empty and no
// entry can be chosen. The box keeps its place and its closed height; only
// the dropped list gets room for every entry.
void PortSettingsDialog::ShowWholeList(HWND combo) {
    RECT closed;
    if (!combo || !GetWindowRect(combo, &closed)) return;
    LRESULT field = SendMessageA(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    LRESULT item = SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0);
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    if (field == CB_ERR || item == CB_ERR || count == CB_ERR) return;
    const int frame = 4 * GetSystemMetrics(SM_CYBORDER) + 2 * GetSystemMetrics(SM_CYEDGE);
    const int dropped = static_cast<int>(field + item * count) + frame;
    SetWindowPos(combo, nullptr, 0, 0, closed.right - closed.left, dropped,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PortSettingsDialog::OnCommand(int id, int code) {
    if (id == IDOK) {
        if (!Refuse(form_.Ok())) EndDialog(dialog_, IDOK);
        return;
    }
    if (id == IDCANCEL) {
        EndDialog(dialog_, IDCANCEL);
        return;
    }
    if (IsEdit(id)) {
        if (code == EN_CHANGE && !filling_) {
            ReportText(id, TextOfControl(id));
            SetDlgItemTextA(dialog_, IDC_DEFAULT_TIMEOUT, form_.DefaultTimeoutText().c_str());
        }
    } else if (IsOneOf(id, kComboIds)) {
        if (code == CBN_EDITCHANGE) {
            ReportText(id, TextOfControl(id));
        } else if (code == CBN_SELCHANGE) {
            // The edit part still shows the old text at this point.
            LRESULT at = SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0);
            LRESULT length = SendDlgItemMessageA(dialog_, id, CB_GETLBTEXTLEN, at, 0);
            if (at >= 0 && length >= 0) {
                std::string text(static_cast<size_t>(length) + 1, '\0');
                SendDlgItemMessageA(dialog_, id, CB_GETLBTEXT, at,
                                    reinterpret_cast<LPARAM>(&text[0]));
                text.resize(static_cast<size_t>(length));
                ReportText(id, text);
            }
        }
    } else if (IsOneOf(id, kCheckIds)) {
        if (code == BN_CLICKED)
            form_.CheckChanged(id, static_cast<int32_t>(IsDlgButtonChecked(dialog_, id)));
    } else if (id >= IDC_PRESET_NONE && id < IDC_PRESET_NONE + kPresetCount) {
        if (code != BN_CLICKED) return;
        int position = -1;
        for (int i = 0; i < kPresetCount && position < 0; ++i)
            if (IsDlgButtonChecked(dialog_, IDC_PRESET_NONE + i) == BST_CHECKED) position = i;
        if (position < 0) return;
        form_.PresetClicked(position);
        ShowHandshake();
    }
}

bool PortSettingsDialog::ReportText(int id, const std::string& text) {
    return !Refuse(form_.TextChanged(id, text));
}

bool PortSettingsDialog::Refuse(const FormCheck& check) {
    if (check.ok) return false;
    Beep();
    // SetFocus, not the dialog's own focus move, which would select the
    // whole text: the next digit typed would replace it instead of
    // following it.
    if (HWND control = GetDlgItem(dialog_, check.focus)) SetFocus(control);
    return true;
}

void PortSettingsDialog::ShowText(int id) {
    SetDlgItemTextA(dialog_, id, form_.TextOf(id).c_str());
}

void PortSettingsDialog::ShowHandshake() {
    ShowText(IDC_RTS_CONTROL);
    ShowText(IDC_DTR_CONTROL);
    for (int id : kCheckIds)
        CheckDlgButton(dialog_, id, static_cast<UINT>(form_.CheckOf(id)));
    for (int id = IDC_BLOCK_SIZE; id <= IDC_DTR_LABEL; ++id)
        if (PortSettingsForm::InCustomGroup(id))
            EnableWindow(GetDlgItem(dialog_, id), form_.CustomGroupEnabled());
}

std::string PortSettingsDialog::TextOfControl(int id) const {
    HWND control = GetDlgItem(dialog_, id);
    int length = control ? GetWindowTextLengthA(control) : 0;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = control ? GetWindowTextA(control, &text[0], length + 1) : 0;
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}
