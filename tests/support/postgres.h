// A real PostgreSQL server for one test, Debian's `postgresql` package run
// from its own folder: a fresh cluster in a temporary folder (initdb), the
// server on a Unix socket in that folder only (no TCP port at all), trust
// authentication for the user "vesk", fsync off. Linux only.
//
// PostgreSQL refuses to run as root; a test run as root (CI is) runs
// initdb, pg_ctl and so the server as the unprivileged user "nobody"
// (setpriv), and the folder is given to that user. The server is a daemon
// of its own, not a child of the test: stop() (and the destructor) end
// it; a test program that is killed leaves it to notice on its own that
// its folder is gone (PostgreSQL checks its lock file every minute).
#pragma once

#include <string>

namespace rig {

class PostgresServer {
  public:
    // The folder of initdb, pg_ctl and postgres: the newest
    // /usr/lib/postgresql/<version>/bin that has them; "" when none.
    static std::string binDir();
    // The message a test gives when it skips for want of the package.
    static std::string missingMessage();

    PostgresServer();
    ~PostgresServer();  // stop(), then the folder removed
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Makes the cluster (the first time) and starts the server; returns
    // once it takes connections. False with the reason and the server's
    // log in *error.
    bool start(std::string* error);
    // Ends the server (fast shut-down: connections are closed) and waits
    // for it. Safe to call when it is not running.
    void stop();
    bool running() const { return running_; }

    // A libpq URI for the database "postgres" on this server's socket.
    std::string url() const;
    const std::string& folder() const { return dir_; }

  private:
    // Runs a command line of this server's programs, as the server's user;
    // its output goes to the log. True when it exits 0.
    bool run(const std::string& command, std::string* error);

    std::string dir_;
    bool initialised_ = false;
    bool running_ = false;
};

}  // namespace rig
