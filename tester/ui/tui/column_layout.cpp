#include "tester/ui/tui/column_layout.h"

#include <algorithm>

int CharWidthOf(int pixels, const std::string& title) {
    const int titleWidth = static_cast<int>(title.size());
    if (pixels < 0) return std::max(titleWidth, 1);
    const int chars = (pixels + kPixelsPerChar / 2) / kPixelsPerChar;
    return std::max({chars, titleWidth, 1});
}

int RowWidth(const std::vector<int>& widths) {
    int total = 0;
    for (size_t i = 0; i < widths.size(); ++i)
        total += widths[i] + (i > 0 ? kColumnGap : 0);
    return total;
}

std::vector<int> FitColumns(const std::vector<int>& base, const std::vector<int>& content,
                            const std::vector<int>& minimum, int available, size_t givesFirst) {
    const size_t n = base.size();
    auto at = [](const std::vector<int>& v, size_t i) { return i < v.size() ? v[i] : 1; };
    std::vector<int> want(n), widths(n);
    for (size_t i = 0; i < n; ++i) {
        want[i] = std::max(base[i], at(content, i));
        widths[i] = std::max(at(content, i), 1);
    }
    if (RowWidth(want) <= available) return want;

    int room = available - RowWidth(widths);
    for (size_t i = 0; i < n && room > 0; ++i) {
        const int grow = std::min(want[i] - widths[i], room);
        if (grow > 0) {
            widths[i] += grow;
            room -= grow;
        }
    }
    if (givesFirst < n) {
        const int over = RowWidth(widths) - available;
        const int spare = widths[givesFirst] - std::max(at(minimum, givesFirst), 1);
        if (over > 0 && spare > 0) widths[givesFirst] -= std::min(over, spare);
    }
    while (RowWidth(widths) > available) {
        size_t widest = n;
        for (size_t i = 0; i < n; ++i)
            if (widths[i] > std::max(at(minimum, i), 1) &&
                (widest == n || widths[i] > widths[widest]))
                widest = i;
        if (widest == n) break;
        --widths[widest];
    }
    return widths;
}

std::string FitCell(const std::string& text, int width) {
    if (width <= 0) return std::string();
    const size_t w = static_cast<size_t>(width);
    if (text.size() <= w) return std::string(w - text.size(), ' ') + text;
    if (w <= 3) return text.substr(0, w);
    return text.substr(0, w - 3) + "...";
}

std::vector<std::string> WrapItems(const std::vector<std::string>& items, int width) {
    std::vector<std::string> lines;
    std::string line;
    for (const std::string& item : items) {
        if (!line.empty() && static_cast<int>(line.size() + 2 + item.size()) > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += "  ";
        line += item;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

int ScrollTop(int top, int cursor, int rowCount, int height) {
    if (height <= 0 || rowCount <= 0) return 0;
    if (cursor < top) top = cursor;
    if (cursor >= top + height) top = cursor - height + 1;
    top = std::min(top, std::max(rowCount - height, 0));
    return std::max(top, 0);
}
