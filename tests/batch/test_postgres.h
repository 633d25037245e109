// A PostgreSQL server for the history tests, on a Unix socket: on Linux the
// test's own (tests/support/postgres.h); in the Windows suite under Wine
// the one the suite's fixture started (tests/support/postgres-server.sh),
// whose socket folder VESK_TEST_PG_SOCKET_DIR names: the host's ODBC
// driver, which Wine's odbc32 hands the calls to, reaches it there.
#pragma once

#include <memory>
#include <string>

class TestPostgres {
  public:
    TestPostgres();
    ~TestPostgres();
    // False, with why, when there is none to be had (the test skips).
    bool Start(std::string& why);
    // The folder of the server's socket ("Servername=" to psqlODBC).
    std::string SocketFolder() const;

  private:
    struct Server;
    std::unique_ptr<Server> server_;
};
