// The "Ports settings" form in the terminal: the dialog's fields, presets
// and custom group, drawn as a box over the main screen and driven by the
// shared form model (settings_form.h), which decides every value, every
// check and what OK stores. Invalid input rings the terminal bell and puts
// the focus on the offending field, where the window beeps and sets the
// focus.
//
// Keys: Tab / Shift-Tab (and Up / Down outside lists) move between fields
// in the dialog's tab order; Up / Down (or Left / Right) choose in a list
// and in the preset group; Space toggles a check box or presses a button;
// digits go into the number fields, any text into the lists, which are
// editable as the dialog's are; Backspace deletes; Enter is OK (Cancel when
// the focus is on Cancel); Esc is Cancel.
#pragma once

#include <string>

#include "tester/session/settings_form.h"

// The buttons, by the dialog's identifiers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

class SettingsView {
  public:
    enum class Outcome { Open, Ok, Cancelled };

    // Loads the form from the configuration and shows its values; the
    // first field with focus is the baud rate. A stored block size or baud
    // rate outside its range rings the bell at once (filling the field
    // counts as changing it) and takes the focus.
    void Open();

    // One key. Ok means the form has stored the new settings and rebuilt
    // summaryText; Cancelled that nothing was stored.
    Outcome HandleKey(int key);

    // The box, centred on the screen.
    void Draw() const;

    // The id of the field with the focus (kIdOk, kIdCancel, a control id,
    // or IDC_PRESET_NONE for the preset group).
    int Focus() const { return focus_; }
    const PortSettingsForm& Form() const { return form_; }

  private:
    void Answer(const FormCheck& check);
    void MoveFocus(int step);
    bool Enabled(int id) const;
    void ChangeText(int id, const std::string& text);
    void ChooseItem(int id, int step);
    void ChoosePreset(int step);

    PortSettingsForm form_;
    int focus_ = IDC_BAUD_RATE;
};
