#include "tester/batch/output_file.h"

#include <cerrno>
#include <cstring>

namespace {

// The temporary name: the target's own folder, so that the rename stays
// within one file system.
std::string TemporaryName(const std::string& path) {
    return path + ".part";
}

}  // namespace

bool WriteOutputFile(const std::string& path, const char* what, const std::string& text,
                     std::FILE* err) {
    const std::string part = TemporaryName(path);
    std::FILE* file = std::fopen(part.c_str(), "wb");
    int error = file ? 0 : errno;
    if (file) {
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size())
            error = errno != 0 ? errno : EIO;
        if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
        if (error == 0 && std::rename(part.c_str(), path.c_str()) != 0) {
            // Windows' rename does not replace a file; POSIX's does, at once.
            std::remove(path.c_str());
            if (std::rename(part.c_str(), path.c_str()) != 0) error = errno != 0 ? errno : EIO;
        }
        if (error != 0) std::remove(part.c_str());
    }
    if (error == 0) return true;
    std::fprintf(err, "vesktest: cannot write %s '%s': %s\n", what, path.c_str(),
                 std::strerror(error));
    return false;
}
