#include "tester/ui/tui/settings_view.h"

#include <curses.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "tester/config/configuration.h"
#include "tester/ui/tui/curses_ui.h"

namespace {

constexpr int kBoxWidth = 78;
constexpr int kBoxHeight = 19;
constexpr int kEscape = 27;
constexpr int kEditWidth = 10;
constexpr int kComboWidth = 10;

enum class Kind { Button, Edit, Combo, Presets, Check };

struct Field {
    int id;
    Kind kind;
    const char* label;
    int y, x;    // the label's place in the box
    int valueX;  // where the value starts
};

// In the dialog's tab order. The radio buttons are one stop (the group),
// as they are not tab stops of their own.
const Field kFields[] = {
    {kIdOk, Kind::Button, "  OK  ", 1, 68, 68},
    {kIdCancel, Kind::Button, "Cancel", 3, 68, 68},
    {IDC_BAUD_RATE, Kind::Edit, "Baudrate", 1, 3, 14},
    {IDC_BYTE_SIZE, Kind::Combo, "Byte size", 3, 3, 14},
    {IDC_PARITY, Kind::Combo, "Parity", 5, 3, 14},
    {IDC_STOP_BITS, Kind::Combo, "Stop bits", 7, 3, 14},
    {IDC_BLOCK_SIZE, Kind::Edit, "Block size", 1, 30, 54},
    {IDC_HD_TIMEOUT, Kind::Edit, "HalfDuplex Timeout, ms", 3, 30, 54},
    {IDC_PRESET_NONE, Kind::Presets, "", 11, 4, 4},
    {IDC_RTS_CONTROL, Kind::Combo, "RtsControl", 11, 20, 34},
    {IDC_OUTX_CTS_FLOW, Kind::Check, "OutxCtsFlow", 12, 20, 38},
    {IDC_DTR_CONTROL, Kind::Combo, "DtrControl", 13, 20, 34},
    {IDC_OUTX_DSR_FLOW, Kind::Check, "OutxDsrFlow", 14, 20, 38},
    {IDC_DSR_SENSITIVITY, Kind::Check, "DsrSensitivity", 15, 20, 38},
    {IDC_OUT_X, Kind::Check, "OutX", 11, 51, 70},
    {IDC_IN_X, Kind::Check, "InX", 13, 51, 70},
    {IDC_TX_CONTINUE_ON_XOFF, Kind::Check, "TXContinueOnXoff", 15, 51, 70},
};
constexpr int kFieldCount = static_cast<int>(sizeof kFields / sizeof kFields[0]);

const Field* FieldOf(int id) {
    for (const Field& field : kFields)
        if (field.id == id) return &field;
    return nullptr;
}

int IndexOf(int id) {
    for (int i = 0; i < kFieldCount; ++i)
        if (kFields[i].id == id) return i;
    return 0;
}

// A value left-aligned in `width` cells; a longer one keeps its end, where
// the typing is.
std::string FitTo(const std::string& text, int width) {
    const size_t w = static_cast<size_t>(width);
    if (text.size() > w) return text.substr(text.size() - w);
    return text + std::string(w - text.size(), ' ');
}

bool IsBackspace(int key) {
    return key == KEY_BACKSPACE || key == 127 || key == 8;
}

bool IsEnter(int key) {
    return key == '\r' || key == '\n' || key == KEY_ENTER;
}

}  // namespace

void SettingsView::Open() {
    form_.Load();
    focus_ = IDC_BAUD_RATE;
    // Filling the two edits is a change of their text, checked as typing.
    Answer(form_.TextChanged(IDC_BLOCK_SIZE, form_.TextOf(IDC_BLOCK_SIZE)));
    Answer(form_.TextChanged(IDC_BAUD_RATE, form_.TextOf(IDC_BAUD_RATE)));
}

void SettingsView::Answer(const FormCheck& check) {
    if (check.ok) return;
    Bell();
    if (FieldOf(check.focus)) focus_ = check.focus;
}

bool SettingsView::Enabled(int id) const {
    return !PortSettingsForm::InCustomGroup(id) || form_.CustomGroupEnabled();
}

void SettingsView::MoveFocus(int step) {
    int index = IndexOf(focus_);
    for (int tries = 0; tries < kFieldCount; ++tries) {
        index = ((index + step) % kFieldCount + kFieldCount) % kFieldCount;
        if (Enabled(kFields[index].id)) break;
    }
    focus_ = kFields[index].id;
}

void SettingsView::ChangeText(int id, const std::string& text) {
    Answer(form_.TextChanged(id, text));
}

// The next or previous entry of a list; from a typed text that is no entry,
// the first or the last.
void SettingsView::ChooseItem(int id, int step) {
    const std::vector<const char*> items = PortSettingsForm::ComboItems(id);
    if (items.empty()) return;
    const std::string current = form_.TextOf(id);
    const int count = static_cast<int>(items.size());
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (current == items[i]) at = i;
    const int next = at < 0 ? (step > 0 ? 0 : count - 1) : std::clamp(at + step, 0, count - 1);
    ChangeText(id, items[next]);
}

void SettingsView::ChoosePreset(int step) {
    const int next = std::clamp(form_.Preset() + step, 0, 4);
    if (next != form_.Preset()) form_.PresetClicked(next);
}

SettingsView::Outcome SettingsView::HandleKey(int key) {
    const Field& field = *FieldOf(focus_);
    if (key == kEscape) return Outcome::Cancelled;
    if (IsEnter(key) || (key == ' ' && field.kind == Kind::Button)) {
        if (focus_ == kIdCancel) return Outcome::Cancelled;
        const FormCheck check = form_.Ok();
        Answer(check);
        return check.ok ? Outcome::Ok : Outcome::Open;
    }
    if (key == '\t') {
        MoveFocus(1);
        return Outcome::Open;
    }
    if (key == KEY_BTAB) {
        MoveFocus(-1);
        return Outcome::Open;
    }
    const bool upDown = key == KEY_UP || key == KEY_DOWN;
    const bool leftRight = key == KEY_LEFT || key == KEY_RIGHT;
    const int step = key == KEY_UP || key == KEY_LEFT ? -1 : 1;
    switch (field.kind) {
        case Kind::Combo:
            if (upDown || leftRight) {
                ChooseItem(field.id, step);
            } else if (IsBackspace(key)) {
                std::string text = form_.TextOf(field.id);
                if (!text.empty()) text.pop_back();
                ChangeText(field.id, text);
            } else if (key >= 32 && key < 127) {
                ChangeText(field.id, form_.TextOf(field.id) + static_cast<char>(key));
            }
            return Outcome::Open;
        case Kind::Presets:
            if (upDown || leftRight) ChoosePreset(step);
            return Outcome::Open;
        case Kind::Edit:
            if (IsBackspace(key)) {
                std::string text = form_.TextOf(field.id);
                if (!text.empty()) text.pop_back();
                ChangeText(field.id, text);
                return Outcome::Open;
            }
            if (key >= '0' && key <= '9') {
                ChangeText(field.id, form_.TextOf(field.id) + static_cast<char>(key));
                return Outcome::Open;
            }
            if (key >= 32 && key < 127) {
                Bell();  // digits only, as the dialog's number edits
                return Outcome::Open;
            }
            break;
        case Kind::Check:
            if (key == ' ') {
                form_.CheckChanged(field.id, form_.CheckOf(field.id) ? 0 : 1);
                return Outcome::Open;
            }
            break;
        case Kind::Button:
            break;
    }
    if (upDown) MoveFocus(step);
    return Outcome::Open;
}

void SettingsView::Draw() const {
    const int top = std::max(0, (ScreenRows() - kBoxHeight) / 2);
    const int left = std::max(0, (ScreenCols() - kBoxWidth) / 2);
    DrawFrame(top, left, kBoxHeight, kBoxWidth, "Ports settings", Look::Box);
    DrawFrame(top + 9, left + 1, 9, kBoxWidth - 2, "Handflow control", Look::Box);
    DrawFrame(top + 10, left + 18, 7, 30, "Hardware", Look::Box);
    DrawFrame(top + 10, left + 49, 7, 26, "Software (xon/xoff)", Look::Box);
    PutText(top + 5, left + 30, "HDTimeout (default), ms", 23, Look::Box);
    PutText(top + 5, left + 54, "[" + FitTo(form_.DefaultTimeoutText(), kEditWidth) + "]",
            kEditWidth + 2, Look::Box);

    for (const Field& field : kFields) {
        const int y = top + field.y;
        const bool focused = field.id == focus_;
        const Look look = !Enabled(field.id) ? Look::Disabled : focused ? Look::Focus : Look::Box;
        const Look labelLook = Enabled(field.id) ? Look::Box : Look::Disabled;
        PutText(y, left + field.x - 1, focused ? ">" : " ", 1, Look::Box);
        switch (field.kind) {
            case Kind::Button:
                PutText(y, left + field.x, std::string("[") + field.label + "]", 8, look);
                break;
            case Kind::Edit:
                PutText(y, left + field.x, field.label, field.valueX - field.x - 1, labelLook);
                PutText(y, left + field.valueX,
                        "[" + FitTo(form_.TextOf(field.id), kEditWidth) + "]", kEditWidth + 2,
                        look);
                break;
            case Kind::Combo:
                PutText(y, left + field.x, field.label, field.valueX - field.x - 1, labelLook);
                PutText(y, left + field.valueX,
                        "[" + FitTo(form_.TextOf(field.id), kComboWidth - 1) + "v]",
                        kComboWidth + 2, look);
                break;
            case Kind::Check:
                PutText(y, left + field.x, field.label, field.valueX - field.x - 1, labelLook);
                PutText(y, left + field.valueX, form_.CheckOf(field.id) & 1 ? "[x]" : "[ ]", 3,
                        look);
                break;
            case Kind::Presets:
                for (int p = 0; p < 5; ++p) {
                    const bool set = form_.Preset() == p;
                    const std::string radio = std::string(set ? "(*) " : "( ) ") +
                                              NameOf(FlowControlNames, static_cast<uint32_t>(p));
                    PutText(y + p, left + field.x, radio, 12,
                            focused && set ? Look::Focus : Look::Box);
                }
                break;
        }
    }
}
