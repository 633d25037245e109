// Both dialog templates as the program carries them, against the layout
// they must have: caption, font, size, and every control's id, class,
// text, position, kind and place in the keyboard order.
#include "platform/win32_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/win32/dialog_template.h"
#include "tester/ui/win32/resource.h"

namespace {

constexpr DWORD kModalFrame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

struct Expected {
    int id;
    const char* windowClass;
    const char* text;
    int x, y, cx, cy;  // cx and cy -1: a label whose size is ours to choose
    DWORD mustHave;
    DWORD mustNotHave;
};

const TemplateItem* Find(const DialogTemplate& t, const Expected& e) {
    for (const TemplateItem& item : t.items) {
        bool same = e.id != IDC_STATIC ? item.id == e.id
                                       : item.id == IDC_STATIC && item.text == e.text &&
                                             item.windowClass == e.windowClass;
        if (same) return &item;
    }
    return nullptr;
}

void ExpectControls(const DialogTemplate& t, const std::vector<Expected>& controls) {
    for (const Expected& e : controls) {
        SCOPED_TRACE(std::to_string(e.id) + " \"" + e.text + "\"");
        const TemplateItem* item = Find(t, e);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->windowClass, e.windowClass);
        EXPECT_EQ(item->text, e.text);
        EXPECT_EQ(item->x, e.x);
        EXPECT_EQ(item->y, e.y);
        if (e.cx >= 0) {
            EXPECT_EQ(item->cx, e.cx);
            EXPECT_EQ(item->cy, e.cy);
        }
        EXPECT_EQ(item->style & e.mustHave, e.mustHave);
        EXPECT_EQ(item->style & e.mustNotHave, 0u);
        EXPECT_TRUE(item->style & WS_VISIBLE);
    }
}

// A modal frame with caption and system menu, its font and size.
void ExpectModalFrame(const DialogTemplate& t, const char* caption, const char* typeface,
                      int pointSize, int cx, int cy) {
    EXPECT_EQ(t.caption, caption);
    EXPECT_EQ(t.style & kModalFrame, kModalFrame);
    EXPECT_EQ(t.typeface, typeface);
    EXPECT_EQ(t.pointSize, pointSize);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
}

// Button kinds are a number in the low four bits, not flags.
DWORD ButtonKind(const TemplateItem& item) {
    return item.style & 0xF;
}

const DWORD kDigits = ES_NUMBER | WS_TABSTOP;
const DWORD kDropDown = CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_TABSTOP;
const DWORD kTextLeftCheck = BS_LEFTTEXT | WS_TABSTOP;
const DWORD kRightAlignedCheck = BS_RIGHT | WS_TABSTOP;

const std::vector<Expected> kSettingsControls = {
    {IDOK, "Button", "OK", 238, 10, 53, 14, WS_TABSTOP, 0},
    {IDCANCEL, "Button", "Cancel", 238, 35, 53, 14, WS_TABSTOP, 0},
    {IDC_STATIC, "Static", "Baudrate", 12, 10, -1, -1, 0, WS_TABSTOP},
    {IDC_BAUD_RATE, "Edit", "", 55, 10, 50, 12, kDigits, ES_CENTER},
    {IDC_STATIC, "Static", "Byte size", 12, 30, -1, -1, 0, WS_TABSTOP},
    {IDC_BYTE_SIZE, "ComboBox", "", 55, 30, 50, 13, kDropDown, CBS_SORT},
    {IDC_STATIC, "Static", "Parity", 12, 50, -1, -1, 0, WS_TABSTOP},
    {IDC_PARITY, "ComboBox", "", 55, 50, 50, 13, kDropDown, CBS_SORT},
    {IDC_STATIC, "Static", "Stop bits", 12, 70, -1, -1, 0, WS_TABSTOP},
    {IDC_STOP_BITS, "ComboBox", "", 55, 70, 50, 13, kDropDown, CBS_SORT},
    {IDC_STATIC, "Static", "Block size", 120, 10, -1, -1, 0, WS_TABSTOP},
    {IDC_BLOCK_SIZE, "Edit", "", 170, 10, 50, 12, kDigits | ES_CENTER, 0},
    {IDC_STATIC, "Static", "HalfDuplex Timeout, ms", 120, 28, -1, -1, 0, WS_TABSTOP},
    {IDC_HD_TIMEOUT, "Edit", "", 170, 30, 50, 12, kDigits | ES_CENTER, 0},
    {IDC_PRESET_NONE, "Button", "None", 20, 110, 50, 10, BS_LEFTTEXT | WS_GROUP, WS_TABSTOP},
    {IDC_PRESET_RTS_CTS, "Button", "Rts/Cts", 20, 130, 50, 10, BS_LEFTTEXT, WS_TABSTOP},
    {IDC_PRESET_DTR_DSR, "Button", "Dtr/Dsr", 20, 150, 50, 10, BS_LEFTTEXT, WS_TABSTOP},
    {IDC_PRESET_XON_XOFF, "Button", "Xon/Xoff", 20, 170, 50, 10, BS_LEFTTEXT, WS_TABSTOP},
    {IDC_PRESET_CUSTOM, "Button", "Custom", 20, 190, 50, 10, BS_LEFTTEXT, WS_TABSTOP},
    {IDC_RTS_LABEL, "Static", "RtsControl", 95, 110, -1, -1, 0, WS_TABSTOP},
    {IDC_RTS_CONTROL, "ComboBox", "", 137, 110, 39, 13, kDropDown, CBS_SORT},
    {IDC_OUTX_CTS_FLOW, "Button", "OutxCtsFlow     ", 95, 130, 80, 10, kTextLeftCheck, 0},
    {IDC_DTR_LABEL, "Static", "DtrControl", 95, 150, -1, -1, 0, WS_TABSTOP},
    {IDC_DTR_CONTROL, "ComboBox", "", 137, 150, 39, 13, kDropDown, CBS_SORT},
    {IDC_OUTX_DSR_FLOW, "Button", "OutxDsrFlow     ", 95, 170, 80, 10, kTextLeftCheck, 0},
    {IDC_DSR_SENSITIVITY, "Button", "DsrSensitivity     ", 95, 190, 80, 10, kTextLeftCheck, 0},
    {IDC_OUT_X, "Button", "OutX", 203, 115, 75, 10, kRightAlignedCheck, BS_LEFTTEXT},
    {IDC_IN_X, "Button", "InX", 203, 140, 75, 10, kRightAlignedCheck, BS_LEFTTEXT},
    {IDC_TX_CONTINUE_ON_XOFF, "Button", "TXContinueOnXoff", 203, 165, 75, 10, kRightAlignedCheck,
     BS_LEFTTEXT},
    {IDC_STATIC, "Button", "Handflow control", 7, 90, 290, 125, 0, WS_TABSTOP},
    {IDC_STATIC, "Button", "Hardware", 84, 98, 102, 110, 0, WS_TABSTOP},
    {IDC_STATIC, "Button", "Software (xon/xoff)", 193, 98, 95, 110, 0, WS_TABSTOP},
    {IDC_STATIC, "Static", "HDTimeout (default), ms", 120, 48, -1, -1, 0, WS_TABSTOP},
    {IDC_DEFAULT_TIMEOUT, "Static", "", 170, 50, 50, 12, SS_CENTER | SS_SUNKEN, WS_TABSTOP},
};

}  // namespace

TEST(PortSettingsTemplate, CaptionFontAndSize) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleA(nullptr), IDD_PORT_SETTINGS, t));
    ExpectModalFrame(t, "Ports settings", "Verdana", 9, 305, 221);
}

TEST(PortSettingsTemplate, EveryControlWithItsIdTextPlaceAndKind) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleA(nullptr), IDD_PORT_SETTINGS, t));
    ExpectControls(t, kSettingsControls);
    EXPECT_EQ(t.items.size(), kSettingsControls.size());
    for (const TemplateItem& item : t.items) {
        SCOPED_TRACE(item.id);
        if (item.windowClass != "Button") continue;
        DWORD expected;
        if (item.id == IDOK)
            expected = BS_DEFPUSHBUTTON;
        else if (item.id == IDCANCEL)
            expected = BS_PUSHBUTTON;
        else if (item.id >= IDC_PRESET_NONE && item.id <= IDC_PRESET_CUSTOM)
            expected = BS_AUTORADIOBUTTON;
        else if (item.id >= IDC_OUTX_CTS_FLOW && item.id <= IDC_TX_CONTINUE_ON_XOFF)
            expected = BS_AUTOCHECKBOX;
        else
            expected = BS_GROUPBOX;
        EXPECT_EQ(ButtonKind(item), expected);
    }
}

TEST(PortSettingsTemplate, ControlsComeInTheOrderOfTheLayoutAndOnlyTheRadioGroupIsNoTabStop) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleA(nullptr), IDD_PORT_SETTINGS, t));
    // Every control with an id of its own except the two labels; the three
    // group boxes between TXContinueOnXoff and the default time-out.
    std::vector<int> order;
    std::vector<int> tabStops;
    for (const TemplateItem& item : t.items) {
        if (item.style & WS_TABSTOP) tabStops.push_back(item.id);
        if (item.id == IDC_RTS_LABEL || item.id == IDC_DTR_LABEL) continue;
        if (item.id == IDC_STATIC && item.windowClass == "Static") continue;
        order.push_back(item.id);
    }
    const int kGroupBox = IDC_STATIC;
    EXPECT_EQ(order, (std::vector<int>{IDOK,
                                       IDCANCEL,
                                       IDC_BAUD_RATE,
                                       IDC_BYTE_SIZE,
                                       IDC_PARITY,
                                       IDC_STOP_BITS,
                                       IDC_BLOCK_SIZE,
                                       IDC_HD_TIMEOUT,
                                       IDC_PRESET_NONE,
                                       IDC_PRESET_RTS_CTS,
                                       IDC_PRESET_DTR_DSR,
                                       IDC_PRESET_XON_XOFF,
                                       IDC_PRESET_CUSTOM,
                                       IDC_RTS_CONTROL,
                                       IDC_OUTX_CTS_FLOW,
                                       IDC_DTR_CONTROL,
                                       IDC_OUTX_DSR_FLOW,
                                       IDC_DSR_SENSITIVITY,
                                       IDC_OUT_X,
                                       IDC_IN_X,
                                       IDC_TX_CONTINUE_ON_XOFF,
                                       kGroupBox,
                                       kGroupBox,
                                       kGroupBox,
                                       IDC_DEFAULT_TIMEOUT}));
    EXPECT_EQ(tabStops, (std::vector<int>{IDOK, IDCANCEL, IDC_BAUD_RATE, IDC_BYTE_SIZE, IDC_PARITY,
                                          IDC_STOP_BITS, IDC_BLOCK_SIZE, IDC_HD_TIMEOUT,
                                          IDC_RTS_CONTROL, IDC_OUTX_CTS_FLOW, IDC_DTR_CONTROL,
                                          IDC_OUTX_DSR_FLOW, IDC_DSR_SENSITIVITY, IDC_OUT_X,
                                          IDC_IN_X, IDC_TX_CONTINUE_ON_XOFF}));
}

TEST(AboutTemplate, CaptionFontSizeAndControls) {
    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleA(nullptr), IDD_ABOUTBOX, t));
    ExpectModalFrame(t, "About", "MS Sans Serif", 8, 187, 102);
    ASSERT_EQ(t.items.size(), 4u);
    EXPECT_EQ(t.items[0].windowClass, "Button");
    EXPECT_EQ(ButtonKind(t.items[0]), static_cast<DWORD>(BS_GROUPBOX));
    EXPECT_EQ((std::vector<int>{t.items[0].x, t.items[0].y, t.items[0].cx, t.items[0].cy}),
              (std::vector<int>{7, 7, 115, 88}));
    // The program icon.
    EXPECT_EQ(t.items[1].windowClass, "Static");
    EXPECT_EQ(t.items[1].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(t.items[1].text, "#" + std::to_string(IDR_MAINFRAME));
    EXPECT_EQ(t.items[1].x, 55);
    EXPECT_EQ(t.items[1].y, 26);
    EXPECT_EQ(t.items[2].windowClass, "Static");
    EXPECT_EQ(t.items[2].text.rfind("vesktestw v1.1.2", 0), 0u) << t.items[2].text;
    EXPECT_EQ((std::vector<int>{t.items[2].x, t.items[2].y, t.items[2].cx, t.items[2].cy}),
              (std::vector<int>{25, 57, 78, 32}));
    EXPECT_EQ(t.items[3].id, IDOK);
    EXPECT_EQ(t.items[3].text, "OK");
    EXPECT_EQ(ButtonKind(t.items[3]), static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ((std::vector<int>{t.items[3].x, t.items[3].y, t.items[3].cx, t.items[3].cy}),
              (std::vector<int>{130, 81, 50, 14}));
}
