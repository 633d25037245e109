// Reads a dialog template resource (DIALOG or DIALOGEX) back into plain
// values, so that tests can compare it with the layout it must have.
#pragma once

#include "platform/win32_types.h"

#include <cstdint>
#include <string>
#include <vector>

struct TemplateItem {
    std::string windowClass;  // "Button", "Edit", "Static", "ComboBox"... or a name
    std::string text;         // "#<n>" for a resource number (an icon)
    int id;
    int x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

struct DialogTemplate {
    bool extended;
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
    std::string caption;
    int pointSize;  // 0 without a font
    std::string typeface;
    std::vector<TemplateItem> items;
};

// False when the module has no such template or it cannot be parsed.
bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out);
