#include "tester/report/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

bool WriteFileWhole(const std::string& path, const std::string& text, const std::string& tag,
                    std::string& error) {
    const std::string temporary = path + "." + tag + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    if (!ok) error = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    std::error_code code;
    if (ok) {
        // Replaces an existing file in one step, on Windows as well.
        std::filesystem::rename(temporary, path, code);
        if (!code) return true;
        error = code.message();
    }
    std::filesystem::remove(temporary, code);
    return false;
}
