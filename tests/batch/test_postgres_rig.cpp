#include "tests/batch/test_postgres.h"

#include "tests/support/postgres.h"

struct TestPostgres::Server {
    rig::PostgresServer rig;
};

TestPostgres::TestPostgres() : server_(std::make_unique<Server>()) {}
TestPostgres::~TestPostgres() = default;

bool TestPostgres::Start(std::string& why) {
    if (rig::PostgresServer::binDir().empty()) {
        why = rig::PostgresServer::missingMessage();
        return false;
    }
    return server_->rig.start(&why);
}

std::string TestPostgres::SocketFolder() const {
    return server_->rig.folder();
}
