#include "bench/netserial/tester_run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

std::string FindTester() {
    const char* forced = std::getenv("VESKTEST");
    std::string tester;
    if (forced && *forced) {
        tester = forced;
    } else {
        char self[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        const std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : "";
        tester = path.substr(0, path.rfind('/') + 1) + "vesktest";
    }
    if (access(tester.c_str(), X_OK) == 0) return tester;
    std::printf("no tester at %s (build the vesktest target, or set VESKTEST)\n", tester.c_str());
    return "";
}

TesterRun RunTester(const std::string& tester, const std::string& dir,
                    const std::vector<std::string>& args) {
    TesterRun run;
    const std::string out = dir + "/run.out";
    std::vector<char*> argv{const_cast<char*>("vesktest")};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) _exit(126);
        dup2(fd, 1);
        dup2(fd, 2);
        execv(tester.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);)
        run.output.push_back(line);
    unlink(out.c_str());
    return run;
}

}  // namespace bench
