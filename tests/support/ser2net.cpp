#include "tests/support/ser2net.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/find_program.h"
#include "tests/support/socket_shim.h"

namespace rig {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kListenTimeout = std::chrono::seconds(5);
constexpr auto kTermGrace = std::chrono::seconds(1);
constexpr int kAttempts = 3;
// What ser2net logs, and then carries on, when an accepter cannot listen.
constexpr const char* kCannotListen = "Unable to startup network port";

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Two distinct ports nobody listens on right now. ser2net binds them a
// moment later; should another program take one meanwhile, start() sees
// ser2net fail to listen and tries new ports.
bool pickPorts(uint16_t& first, uint16_t& second) {
    const sock::Handle a = sock::listenLoopback(first);
    const sock::Handle b = sock::listenLoopback(second);
    const bool ok = a != sock::kNoSocket && b != sock::kNoSocket;
    if (a != sock::kNoSocket) sock::closeSocket(a);
    if (b != sock::kNoSocket) sock::closeSocket(b);
    return ok;
}

// Socket inodes listening on 127.0.0.1:port, from /proc/net/tcp, where the
// address is the 32-bit word as the host prints it (0100007F here) and the
// port is big-endian hex. State 0A is LISTEN.
std::vector<std::string> listeningInodes(uint16_t port) {
    std::vector<std::string> inodes;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // header
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> address >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (address == local && state == "0A") inodes.push_back(inode);
    }
    return inodes;
}

bool processHoldsSocket(pid_t pid, const std::vector<std::string>& inodes) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        char target[64];
        const std::string link = dir + "/" + e->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        for (const std::string& inode : inodes) {
            if (std::string(target) == "socket:[" + inode + "]") found = true;
        }
    }
    closedir(d);
    return found;
}

bool listensOn(pid_t pid, uint16_t port) {
    return port == 0 || processHoldsSocket(pid, listeningInodes(port));
}

}  // namespace

std::string Ser2net::program() {
    return FindProgram("ser2net", "SER2NET");
}

std::string Ser2net::missingMessage() {
    return "ser2net is not installed (apt-get install ser2net); skipping the test that runs it";
}

Ser2net::Ser2net(Options options) : options_(std::move(options)) {}

Ser2net::~Ser2net() {
    stop();
}

std::string Ser2net::configText() const {
    std::ostringstream c;
    c << "%YAML 1.1\n---\n";
    c << "# Written by the test rig; removed when ser2net stops.\n";
    c << "connection: &rfc2217\n";
    c << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << telnetPort_ << "\n";
    c << "  connector: serialdev," << options_.device << "," << options_.lineSettings << ",local\n";
    if (rawPort_ != 0) {
        c << "connection: &raw\n";
        c << "  accepter: tcp(nodelay),127.0.0.1," << rawPort_ << "\n";
        c << "  connector: serialdev," << options_.device << "," << options_.lineSettings
          << ",local\n";
    }
    return c.str();
}

std::string Ser2net::log() const {
    if (dir_.empty()) return std::string();
    std::ifstream in(dir_ + "/ser2net.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Ser2net::start(std::string* error) {
    std::string why;
    if (running()) {
        why = "ser2net already runs";
    } else if (program().empty()) {
        why = missingMessage();
    } else {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            uint16_t raw = 0;
            if (!pickPorts(telnetPort_, raw)) {
                why = "no free port on 127.0.0.1: " + sock::errorText(sock::lastError());
                break;
            }
            if (options_.telnetPort != 0) telnetPort_ = options_.telnetPort;
            rawPort_ = options_.rawAccepter ? raw : 0;
            if (launch(&why) && waitListening(&why)) return true;
            const bool portTaken = log().find(kCannotListen) != std::string::npos;
            why += "\nser2net said:\n" + log();
            stop();
            if (!portTaken || options_.telnetPort != 0) break;
        }
    }
    telnetPort_ = rawPort_ = 0;
    if (error) *error = why;
    return false;
}

bool Ser2net::launch(std::string* error) {
    if (dir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rig-ser2net-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            *error = errnoText("mkdtemp");
            return false;
        }
        dir_ = pattern;
    }
    const std::string config = dir_ + "/ser2net.yaml";
    {
        std::ofstream out(config, std::ios::trunc);
        out << configText();
        if (!out) {
            *error = "writing " + config;
            return false;
        }
    }

    // Everything the child needs is made before fork: between fork and exec
    // a multi-threaded parent's child may only make async-signal-safe calls.
    const std::string prog = program();
    std::vector<std::string> args = {prog, "-n", "-d", "-u", "-c", config};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int logFd =
        open((dir_ + "/ser2net.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd < 0 || nullFd < 0) {
        *error = errnoText("opening ser2net's log");
        if (logFd >= 0) close(logFd);
        if (nullFd >= 0) close(nullFd);
        return false;
    }
    const pid_t parent = getpid();
    const long maxFd = sysconf(_SC_OPEN_MAX);

    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // the parent died before prctl
        dup2(nullFd, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        // A pty or socket fd another thread made without O_CLOEXEC must not
        // live on in ser2net: a held pty never hangs up.
        if (close_range(3, ~0U, 0) != 0) {
            for (long fd = 3; fd < maxFd; ++fd)
                close(static_cast<int>(fd));
        }
        sigset_t all;
        sigemptyset(&all);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        execv(prog.c_str(), argv.data());
        _exit(127);
    }
    const int forkErrno = errno;
    close(logFd);
    close(nullFd);
    if (pid < 0) {
        errno = forkErrno;
        *error = errnoText("fork");
        return false;
    }
    pid_ = pid;
    return true;
}

bool Ser2net::waitListening(std::string* error) {
    const Clock::time_point deadline = Clock::now() + kListenTimeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *error =
                WIFEXITED(status) && WEXITSTATUS(status) == 127
                    ? "could not run " + program()
                    : "ser2net ended before it listened (status " + std::to_string(status) + ")";
            return false;
        }
        if (listensOn(pid_, telnetPort_) && listensOn(pid_, rawPort_)) return true;
        if (log().find(kCannotListen) != std::string::npos) {
            *error = "ser2net could not listen";
            return false;
        }
        if (Clock::now() >= deadline) {
            *error = "ser2net did not listen on 127.0.0.1:" + std::to_string(telnetPort_) +
                     (rawPort_ ? " and " + std::to_string(rawPort_) : std::string()) +
                     " within 5 s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Ser2net::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const Clock::time_point deadline = Clock::now() + kTermGrace;
        bool reaped = false;
        while (!reaped && Clock::now() < deadline) {
            const pid_t r = waitpid(pid_, nullptr, WNOHANG);
            reaped = r == pid_ || (r < 0 && errno == ECHILD);
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!reaped) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (!dir_.empty()) {
        unlink((dir_ + "/ser2net.yaml").c_str());
        unlink((dir_ + "/ser2net.log").c_str());
        rmdir(dir_.c_str());
        dir_.clear();
    }
}

}  // namespace rig
