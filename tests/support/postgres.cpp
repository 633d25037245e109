#include "tests/support/postgres.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/find_program.h"

namespace rig {

namespace {

constexpr const char* kPort = "5432";  // names the socket; no TCP port is opened

std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string PostgresServer::binDir() {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        if (IsExecutable(bin + "/initdb") && IsExecutable(bin + "/pg_ctl") &&
            IsExecutable(bin + "/postgres"))
            found.push_back(bin);
    }
    if (found.empty()) return "";
    // The newest: versions are whole numbers from 10 on.
    return *std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
}

std::string PostgresServer::missingMessage() {
    return "PostgreSQL is not installed (apt-get install postgresql, as tools/install-deps.sh "
           "all does): the PostgreSQL history was not tested";
}

PostgresServer::PostgresServer() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vesk-pg-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    dir_ = pattern;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody && ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) dir_.clear();
    }
}

PostgresServer::~PostgresServer() {
    stop();
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool PostgresServer::run(const std::string& command, std::string* error) {
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup "
                                                "--clear-groups --reset-env "
                                              : "";
    const std::string line = "cd " + Quote(dir_) + " && " + user + binDir() + "/" + command +
                             " >>" + Quote(dir_ + "/commands.log") + " 2>&1 </dev/null";
    const int status = std::system(line.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (error)
        *error = "'" + command + "' failed:\n" + ReadAll(dir_ + "/commands.log") +
                 ReadAll(dir_ + "/server.log");
    return false;
}

bool PostgresServer::start(std::string* error) {
    if (binDir().empty() || dir_.empty()) {
        if (error) *error = dir_.empty() ? "no folder for the cluster" : missingMessage();
        return false;
    }
    const std::string data = Quote(dir_ + "/data");
    if (!initialised_) {
        if (!run("initdb --no-sync --auth=trust --username=vesk --encoding=UTF8 --locale=C -D " +
                     data,
                 error))
            return false;
        initialised_ = true;
    }
    const std::string options = "-F -k " + dir_ + " -c listen_addresses= -p " + kPort;
    if (!run("pg_ctl -w -t 60 -D " + data + " -l " + Quote(dir_ + "/server.log") + " -o " +
                 Quote(options) + " start",
             error))
        return false;
    running_ = true;
    return true;
}

void PostgresServer::stop() {
    if (!running_) return;
    run("pg_ctl -w -t 60 -m fast -D " + Quote(dir_ + "/data") + " stop", nullptr);
    running_ = false;
}

std::string PostgresServer::url() const {
    return std::string("postgresql://vesk@/postgres?host=") + dir_ + "&port=" + kPort;
}

}  // namespace rig
