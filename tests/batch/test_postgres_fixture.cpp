#include "tests/batch/test_postgres.h"

#include <cstdlib>

struct TestPostgres::Server {
    std::string folder;
};

TestPostgres::TestPostgres() : server_(std::make_unique<Server>()) {}
TestPostgres::~TestPostgres() = default;

bool TestPostgres::Start(std::string& why) {
    const char* folder = std::getenv("VESK_TEST_PG_SOCKET_DIR");
    if (!folder || !*folder) {
        why = "VESK_TEST_PG_SOCKET_DIR is not set: no PostgreSQL server for this suite";
        return false;
    }
    server_->folder = folder;
    return true;
}

std::string TestPostgres::SocketFolder() const {
    return server_->folder;
}
