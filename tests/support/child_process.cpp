#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rig {

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, int stdinFd, int stdoutFd,
                         const std::string& logPath, std::string* error) {
    if (pid_ > 0) {
        *error = "already running";
        return false;
    }
    // Everything the child needs is made before fork: between fork and exec
    // a multi-threaded parent's child may only make async-signal-safe calls.
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (std::string& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (logFd < 0 || nullFd < 0) {
        *error = std::string("opening ") + logPath + ": " + std::strerror(errno);
        if (logFd >= 0) ::close(logFd);
        if (nullFd >= 0) ::close(nullFd);
        return false;
    }
    const int in = stdinFd >= 0 ? stdinFd : nullFd;
    const int out = stdoutFd >= 0 ? stdoutFd : logFd;
    const pid_t parent = ::getpid();
    const long maxFd = ::sysconf(_SC_OPEN_MAX);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) _exit(127);  // the parent died before prctl
        // Through fds above the three first, so that one dup2 cannot
        // overwrite the source of the next.
        const int inCopy = ::fcntl(in, F_DUPFD, 10);
        const int outCopy = ::fcntl(out, F_DUPFD, 10);
        const int errCopy = ::fcntl(logFd, F_DUPFD, 10);
        ::dup2(inCopy, 0);
        ::dup2(outCopy, 1);
        ::dup2(errCopy, 2);
        if (::close_range(3, ~0U, 0) != 0) {
            for (long fd = 3; fd < maxFd; ++fd)
                ::close(static_cast<int>(fd));
        }
        sigset_t all;
        sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        ::execv(pointers[0], pointers.data());
        _exit(127);
    }
    const int forkErrno = errno;
    ::close(logFd);
    ::close(nullFd);
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(forkErrno);
        return false;
    }
    pid_ = pid;
    status_ = -1;
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    status_ = r == pid_ ? status : -1;
    pid_ = -1;
    return false;
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
        pid_ = -1;
    }
}

ScratchFolder::ScratchFolder(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace rig
