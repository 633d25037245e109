#include "tester/ui/win32/frame_rules.h"

#include <cstring>

std::string MenuHelpLine(const char* text) {
    if (!text) return std::string();
    size_t n = std::strcspn(text, "\r\n");
    return std::string(text, n < kMenuHelpMaxChars ? n : kMenuHelpMaxChars);
}

uint32_t SystemMenuHelpId(uint32_t command) {
    constexpr uint32_t kFirst = 0xF000;  // SC_SIZE
    constexpr uint32_t kEnd = 0xF1F0;    // past the last system command
    if (command < kFirst || command >= kEnd) return 0;
    return kSystemMenuHelpFirst + ((command & 0xFFF0u) - kFirst) / 16;
}

int32_t EnlargedFontHeight(int32_t height) {
    return height > 0 ? height + 4 : height - 4;
}

int32_t KeepXInWorkArea(int32_t x, int32_t left, int32_t right) {
    if (x < left) return left;
    if (x >= right) return right > left ? right - 1 : left;
    return x;
}

WindowPlacement PlacementFromEdges(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    // Edges come from a file the user may edit; the size is computed in 64
    // bits and kept to the int32 range rather than wrapped.
    auto span = [](int32_t from, int32_t to) {
        int64_t d = static_cast<int64_t>(to) - from;
        if (d > INT32_MAX) d = INT32_MAX;
        if (d < INT32_MIN) d = INT32_MIN;
        return static_cast<int32_t>(d);
    };
    return {left, top, span(left, right), span(top, bottom)};
}

ScreenPoint CenteredOrigin(int32_t width, int32_t height, const ScreenRect& owner,
                           const ScreenRect& workArea) {
    auto place = [](int64_t size, int64_t from, int64_t to, int64_t areaFrom, int64_t areaTo) {
        int64_t at = from + ((to - from) - size) / 2;
        if (at + size > areaTo) at = areaTo - size;
        if (at < areaFrom) at = areaFrom;
        return static_cast<int32_t>(at);
    };
    return {place(width, owner.left, owner.right, workArea.left, workArea.right),
            place(height, owner.top, owner.bottom, workArea.top, workArea.bottom)};
}
