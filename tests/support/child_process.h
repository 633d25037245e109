// A program the rigs run beside the test (a device server), with its
// standard streams where the rig wants them. Linux only.
//
// The child gets SIGTERM when the thread that started it ends
// (PR_SET_PDEATHSIG), so a test program that dies leaves nothing running:
// start it from a thread that outlives it. Every fd but the three given is
// closed in the child, so it holds no pty or socket of the test open.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace rig {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // stop()
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs argv[0] (a path) with argv. stdinFd and stdoutFd become its
    // standard input and output (-1: /dev/null), stderr goes to logPath
    // (and stdout too when stdoutFd is -1). The caller keeps its own fds.
    // False with the reason when it could not be started.
    bool start(const std::vector<std::string>& argv, int stdinFd, int stdoutFd,
               const std::string& logPath, std::string* error);

    // SIGTERM, then SIGKILL after a second; reaps it. Safe to repeat.
    void stop();

    // True while it runs; reaps it once it has ended.
    bool running();
    pid_t pid() const { return pid_; }
    // Its exit status once it has ended (waitpid's), -1 before.
    int status() const { return status_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// A temporary folder for a rig's files, removed with everything in it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const char* prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }  // empty when it could not be made

  private:
    std::string path_;
};

// The whole of a text file, empty when it cannot be read.
std::string readTextFile(const std::string& path);

}  // namespace rig
