#include "tests/ui/win32/dialog_template.h"

namespace {

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}
    bool ok() const { return ok_; }

    uint16_t Word() {
        uint16_t v = 0;
        if (Need(2)) {
            v = static_cast<uint16_t>(at_[0] | at_[1] << 8);
            at_ += 2;
        }
        return v;
    }
    uint32_t Dword() {
        uint32_t lo = Word();
        return lo | static_cast<uint32_t>(Word()) << 16;
    }
    int Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte() {
        uint8_t v = 0;
        if (Need(1)) v = *at_++;
        return v;
    }
    // A zero-ended UTF-16 text, ASCII only in our resources.
    std::string Text() {
        std::string s;
        for (uint16_t c; ok_ && (c = Word()) != 0;)
            s += static_cast<char>(c < 0x80 ? c : '?');
        return s;
    }
    // Either 0xFFFF and a number, or a text.
    std::string TextOrNumber() {
        if (Peek() == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return Text();
    }
    void AlignDword(const uint8_t* base) {
        while (ok_ && (at_ - base) % 4)
            Byte();
    }
    void Skip(size_t n) {
        if (Need(n)) at_ += n;
    }

  private:
    bool Need(size_t n) {
        if (static_cast<size_t>(end_ - at_) < n) ok_ = false;
        return ok_;
    }
    uint16_t Peek() { return Need(2) ? static_cast<uint16_t>(at_[0] | at_[1] << 8) : 0; }

    const uint8_t* at_;
    const uint8_t* end_;
    bool ok_ = true;
};

// The predefined classes under one spelling, whether the template names
// them by number or by name (in any case, as resource compilers differ).
std::string ClassName(const std::string& raw) {
    static const char* const kNames[] = {"Button",  "Edit",      "Static",
                                         "ListBox", "ScrollBar", "ComboBox"};
    for (int i = 0; i < 6; ++i) {
        if (raw == "#" + std::to_string(0x80 + i) || lstrcmpiA(raw.c_str(), kNames[i]) == 0)
            return kNames[i];
    }
    return raw;
}

}  // namespace

bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    const auto* base = static_cast<const uint8_t*>(LockResource(loaded));
    if (!base) return false;
    Reader r(base, SizeofResource(module, found));

    out = DialogTemplate{};
    uint16_t version = r.Word();
    uint16_t signature = r.Word();
    out.extended = version == 1 && signature == 0xFFFF;
    if (out.extended) {
        r.Dword();  // help id
        out.exStyle = r.Dword();
        out.style = r.Dword();
    } else {
        out.style = version | static_cast<DWORD>(signature) << 16;
        out.exStyle = r.Dword();
    }
    int count = r.Word();
    out.x = r.Short();
    out.y = r.Short();
    out.cx = r.Short();
    out.cy = r.Short();
    r.TextOrNumber();  // menu
    r.TextOrNumber();  // class
    out.caption = r.Text();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = r.Word();
        if (out.extended) {
            r.Word();  // weight
            r.Byte();  // italic
            r.Byte();  // charset
        }
        out.typeface = r.Text();
    }
    for (int i = 0; i < count && r.ok(); ++i) {
        r.AlignDword(base);
        TemplateItem item{};
        if (out.extended) {
            r.Dword();  // help id
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = out.extended ? static_cast<int>(r.Dword()) : r.Short();
        if (!out.extended && item.id == 0xFFFF) item.id = -1;
        item.windowClass = ClassName(r.TextOrNumber());
        item.text = r.TextOrNumber();
        r.Skip(r.Word());  // creation data
        out.items.push_back(item);
    }
    return r.ok();
}
