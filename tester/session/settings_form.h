// The port settings form without its controls: the working copy, the
// flow-control presets, the validation of the edits and of OK, the
// computed default half-duplex time-out and the store into the program's
// PortSettings. The Windows dialog and the terminal form drive it the same
// way and only draw what it holds.
//
// Controls are named by their dialog identifiers (settings_form_ids.h).
// What a front end does:
// - Opening: Load(); fill the combo lists from ComboItems; put every value
//   into its control (TextOf, CheckOf, Preset); enable the custom group
//   when CustomGroupEnabled(); show DefaultTimeoutText() in 1012. Putting
//   the texts of 1001 and 1002 into their controls counts as a change of
//   their text: report it with TextChanged, as the dialog's edits do by
//   themselves, so that a stored baud rate below 300 beeps at once.
// - Every change of an edit's or combo box's text (typed, chosen from the
//   list, or set by the front end): TextChanged(id, new text). Act on the
//   result (beep, focus) and show DefaultTimeoutText() again. For a choice
//   from a combo box's list pass the chosen item's text: Windows reports
//   the choice (CBN_SELCHANGE) before the box's edit part shows it.
// - A check box toggled: CheckChanged(id, state).
// - A radio button clicked: PresetClicked(position of the set radio, or -1
//   when none is), then put RTS, DTR and the six check boxes back into
//   their controls and enable or disable the custom group.
// - OK: Ok(); when its result fails, beep, focus its control and stay
//   open. When it succeeds, PortSettings and summaryText are new; close.
// - Cancel, Escape, the close box: just close; nothing was stored.
//
// On the front end's thread only (the one that owns `configuration`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/session/settings_form_ids.h"

// What a rule asks of the front end. When !ok: the system's simple beep
// (MessageBeep(0xFFFFFFFF); the terminal bell) and the focus to `focus`.
struct FormCheck {
    bool ok = true;
    int focus = 0;  // a control id when !ok
};

// The form's values, one per control (preset = the radio group).
struct SettingsWorkingCopy {
    int32_t blockSize = 0;
    int32_t baudRate = 0;
    std::string byteSizeText;
    std::string parityText;
    std::string stopBitsText;
    int32_t preset = 0;
    std::string rtsText;
    std::string dtrText;
    int32_t outxCtsFlow = 0;
    int32_t outxDsrFlow = 0;
    int32_t dsrSensitivity = 0;
    int32_t outX = 0;
    int32_t inX = 0;
    int32_t txContinueOnXoff = 0;
    int32_t hdTimeout = 0;
};

class PortSettingsForm {
  public:
    // Valid edit ranges, checked when the text changes (1001, 1002) and at OK.
    static constexpr int32_t kMinBlockSize = 32;
    static constexpr int32_t kMaxBlockSize = 64000;
    static constexpr int32_t kMinBaudRate = 300;
    static constexpr int32_t kMaxBaudRate = 921600;
    static constexpr uint32_t kMinByteSize = 5;
    static constexpr uint32_t kMaxByteSize = 8;
    static constexpr int32_t kMinHdTimeout = 0;
    static constexpr int32_t kMaxHdTimeout = 300000;

    // Starts the working copy from configuration.portSettings: block size,
    // baud rate, the byte-size, parity and stop-bits texts, the preset
    // (ApplyPreset of flowControl), the custom group's state, the time-out
    // and the default time-out. Also what every control shows.
    void Load();

    const SettingsWorkingCopy& Values() const { return values_; }

    // --- What the controls show.

    // The text of an edit (1001, 1002, 1011: the last text given to
    // TextChanged, or the loaded value as a signed decimal) or of a combo
    // box (1013, 1014, 1015, 1003, 1005). "" for any other id.
    std::string TextOf(int id) const;
    // A check box's state (1004, 1006 to 1010) as last given, a state
    // outside 0..2 shown as 0. 0 for other ids.
    int32_t CheckOf(int id) const;
    // Position of the set radio, 0..4 (IDC_PRESET_NONE + Preset() is its id).
    int32_t Preset() const { return values_.preset; }
    // The custom group (1003, 1021, 1004, 1005, 1022, 1006 to 1010) is
    // enabled only while the preset is 4, "Custom".
    bool CustomGroupEnabled() const { return customEnabled_; }
    static bool InCustomGroup(int id);
    // Text of 1012, the computed default half-duplex time-out.
    const std::string& DefaultTimeoutText() const { return defaultTimeout_; }

    // The fixed lists of the combo boxes, in their order (never sorted);
    // empty for other ids.
    static std::vector<const char*> ComboItems(int id);

    // --- The operator's changes.

    // The text of an edit or combo box changed. For 1001 (block size) and
    // 1002 (baud rate): the text is read as an unsigned decimal and stored
    // in the working copy whatever follows the number (0 when there is no
    // number); no number, or a value outside the range compared as a
    // signed number, fails with the focus on that edit; otherwise the
    // default time-out is shown again. Other ids only keep the text.
    FormCheck TextChanged(int id, const std::string& text);

    // A check box's new state; its lowest bit is what OK stores.
    void CheckChanged(int id, int32_t state);

    // A radio of the group was clicked; `position` is that of the set radio
    // (0..4), or -1 when none is set, which changes nothing. Otherwise
    // ApplyPreset and the custom group enabled for 4 only.
    void PresetClicked(int32_t position);

    // Sets the preset and the handshake part of the working copy from the
    // preset table; 4 ("Custom") takes every value from the lineFlags that
    // configuration holds now, not from what the form showed. A preset
    // outside 0..4 changes nothing.
    void ApplyPreset(int32_t preset);

    // --- OK.

    // Checks, in this order: 1001 as a signed decimal within 32..64000;
    // 1002 within 300..921600; 1011 within 0..300000. The first failure is
    // returned and nothing is stored. Otherwise stores into
    // configuration.portSettings: block size, baud rate, byte size (the
    // leading decimal number of its text, 0 without one, no range test),
    // parity, stop bits, RTS and DTR (the position of the entry of their
    // name table equal to the text, exact and case-sensitive; unchanged when
    // none is equal), the preset, the lowest bit of each check box, the
    // time-out; then BuildSummary.
    FormCheck Ok();

  private:
    void ShowDefaultHdTimeout(uint32_t blockSize, uint32_t baudRate);
    FormCheck RangeRule(int id, const std::string& text, int32_t& field, int32_t low, int32_t high);

    SettingsWorkingCopy values_;
    std::string blockSizeText_;
    std::string baudRateText_;
    std::string hdTimeoutText_;
    bool customEnabled_ = false;
    std::string defaultTimeout_;
};

// The text of 1012 for a block size and baud rate: the half-duplex reply
// time-out that a time-out setting of 0 stands for, as the engine computes
// it (DefaultReplyTimeoutMs: block size x 30000, kept to 32 bits, divided
// by the baud rate), as "%d". A baud rate of 0 is never divided by: the
// engine then waits as for 300 bit/s, and the form shows that wait.
std::string DefaultHdTimeoutText(uint32_t blockSize, uint32_t baudRate);

// The number readers of the form, exposed for the tests.
// Unsigned: leading blanks, an optional sign (a minus wraps, as the
// system's unsigned reading does), digits; whatever follows is ignored.
// False without digits or beyond 32 bits.
bool ReadUnsignedDecimal(const std::string& text, uint32_t& value);
// Signed: the same, false outside the signed 32-bit range.
bool ReadSignedDecimal(const std::string& text, int32_t& value);
