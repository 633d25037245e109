#include "tester/report/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

StagedFile::StagedFile(std::string path, const std::string& tag)
    : path_(std::move(path)), temporary_(path_ + "." + tag + ".tmp") {}

StagedFile::~StagedFile() {
    if (!staged_) return;
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
}

bool StagedFile::Stage(const std::string& text, std::string& error) {
    std::error_code code;
    if (std::filesystem::is_directory(path_, code)) {
        error = std::make_error_code(std::errc::is_a_directory).message();
        return false;
    }
    std::FILE* file = std::fopen(temporary_.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    staged_ = true;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    if (!ok) error = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        std::filesystem::remove(temporary_, code);
        staged_ = false;
    }
    return ok;
}

bool StagedFile::Commit(std::string& error) {
    std::error_code code;
    // Replaces an existing file in one step, on Windows as well.
    std::filesystem::rename(temporary_, path_, code);
    if (!code) {
        staged_ = false;
        return true;
    }
    error = code.message();
    return false;
}

bool WriteFileWhole(const std::string& path, const std::string& text, const std::string& tag,
                    std::string& error) {
    StagedFile file(path, tag);
    return file.Stage(text, error) && file.Commit(error);
}
