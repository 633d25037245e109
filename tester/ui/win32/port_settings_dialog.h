// The modal "Ports settings" dialog (template 101) over the settings form
// (tester/session/settings_form.h), which holds every rule: this class only
// fills the controls, reports their changes to the form and carries out
// what the form asks (beep, focus, enabling the custom group).
#pragma once

#include "platform/win32_types.h"

#include "tester/session/settings_form.h"

class PortSettingsDialog {
  public:
    virtual ~PortSettingsDialog() = default;

    // Runs the dialog modally, owned by `owner`. IDOK once the new values
    // are in the configuration's PortSettings and summaryText; IDCANCEL
    // (also when the dialog could not be shown) when nothing was stored.
    INT_PTR Run(HWND owner);

  protected:
    // The system's simple beep (MessageBeep(0xFFFFFFFF)).
    virtual void Beep();
    // The dialog is up, filled and centred.
    virtual void OnShown(HWND /*dialog*/) {}

  private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnInit();
    void OnCommand(int id, int code);

    // Reports a text to the form and acts on its verdict. False when the
    // form refused it (it has beeped and moved the focus then).
    bool ReportText(int id, const std::string& text);
    bool Refuse(const FormCheck& check);
    void ShowText(int id);
    static void ShowWholeList(HWND combo);
    void ShowHandshake();
    std::string TextOfControl(int id) const;

    PortSettingsForm form_;
    HWND dialog_ = nullptr;
    // Set while the dialog puts texts into its own edits: those changes are
    // reported once, by the code that makes them, not again by the edits'
    // own notifications.
    bool filling_ = false;
};
