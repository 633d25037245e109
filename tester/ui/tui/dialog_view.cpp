#include "tester/ui/tui/dialog_view.h"

#include <curses.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/win32_types.h"
#include "tester/version/version.h"
#include "tester/ui/tui/curses_ui.h"

namespace {

// Splits a text into lines at its line breaks, and each into lines of at
// most `width` characters at blanks.
std::vector<std::string> Wrap(const std::string& text, int width) {
    const size_t brk = text.find('\n');
    if (brk != std::string::npos) {
        std::vector<std::string> lines = Wrap(text.substr(0, brk), width);
        for (std::string& line : Wrap(text.substr(brk + 1), width))
            lines.push_back(std::move(line));
        return lines;
    }
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        at = end + 1;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void DrawBox(const std::string& caption, const std::vector<std::string>& lines) {
    int inner = static_cast<int>(caption.size()) + 4;
    for (const std::string& line : lines)
        inner = std::max(inner, static_cast<int>(line.size()));
    inner = std::min(inner + 4, std::max(ScreenCols() - 2, 10));
    const int height = static_cast<int>(lines.size()) + 4;
    const int top = std::max(0, (ScreenRows() - height) / 2);
    const int left = std::max(0, (ScreenCols() - inner - 2) / 2);
    DrawFrame(top, left, height, inner + 2, caption, Look::Box);
    for (size_t i = 0; i < lines.size(); ++i)
        PutText(top + 1 + static_cast<int>(i), left + 3, lines[i], inner - 4, Look::Box);
    const std::string ok = "[  OK  ]";
    PutText(top + height - 2, left + 1 + (inner - static_cast<int>(ok.size())) / 2, ok,
            static_cast<int>(ok.size()), Look::Focus);
}

}  // namespace

std::string ProgramVersionText() {
    char text[64];
    std::snprintf(text, sizeof text, "vesktest v%d.%d.%d (build %03u)",
                  static_cast<int>(versionMajor), static_cast<int>(versionMinor),
                  static_cast<int>(versionPatch), static_cast<unsigned>(versionBuild));
    return text;
}

void DrawAboutBox() {
    DrawBox("About", {ProgramVersionText(), "Serial line tester,", "terminal front end"});
}

void DrawMessageBox(const ModalMessage& message) {
    std::vector<std::string> lines;
    const int width = std::max(ScreenCols() - 10, 20);
    for (const std::string& line : Wrap(message.text, std::min(width, 60)))
        lines.push_back(line);
    if ((message.flags & 0xF0u) == MB_ICONWARNING) lines.insert(lines.begin(), "Warning:");
    DrawBox(message.caption, lines);
}

bool ClosesBox(int key) {
    return key == '\r' || key == '\n' || key == KEY_ENTER || key == 27 || key == ' ';
}
