// A floor's monitoring for one test: Debian's prometheus-node-exporter with
// its textfile collector alone, reading a folder of the test's own, and
// Debian's prometheus scraping it every second, both on free loopback
// ports, with their files in a temporary folder. Linux only.
//
// The test writes (or has the tester write) *.prom files into
// textfileFolder() and asks the server's HTTP API what it collected, as a
// dashboard or an alert would.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace rig {

class PrometheusRig {
  public:
    // Both programs installed; missingMessage() says what to install.
    static bool available();
    static std::string missingMessage();

    PrometheusRig();
    ~PrometheusRig();  // stop(), then the folder removed
    PrometheusRig(const PrometheusRig&) = delete;
    PrometheusRig& operator=(const PrometheusRig&) = delete;

    // Starts node_exporter and prometheus (call from a thread that outlives
    // them: the test's own); returns once prometheus has scraped the
    // exporter. False with the reason and the programs' logs in *error.
    bool start(std::string* error);
    void stop();

    const std::string& textfileFolder() const { return textfiles_; }
    // "http://127.0.0.1:<port>"
    std::string url() const;

    // One series of a query's answer: its labels and its value (instant
    // query) or values (range query), in time order.
    struct Series {
        std::map<std::string, std::string> labels;
        std::vector<double> values;
    };
    // GET /api/v1/query. False, with the server's answer in *error, when
    // the query was not answered with success (a PromQL syntax error).
    bool query(const std::string& promql, std::vector<Series>& out, std::string* error) const;
    // GET /api/v1/query_range over the last `seconds`, a point a `step`.
    bool queryRange(const std::string& promql, uint32_t seconds, uint32_t step,
                    std::vector<Series>& out, std::string* error) const;
    // The body of GET `target` ("/api/v1/..."); "" when it cannot be had.
    std::string get(const std::string& target) const;

  private:
    std::string folder_;
    std::string textfiles_;
    uint16_t exporterPort_ = 0;
    uint16_t serverPort_ = 0;
    ChildProcess exporter_;
    ChildProcess server_;
};

// `text` with everything but unreserved characters percent-encoded.
std::string UrlEncode(const std::string& text);

}  // namespace rig
