#include "tests/support/prometheus.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/find_program.h"

namespace rig {

namespace {

uint16_t FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    uint16_t port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// Just enough JSON for the API's answers: objects, arrays, strings, the
// rest kept as its text.
struct Json {
    enum Kind { Object, Array, Text, Other } kind = Other;
    std::map<std::string, Json> members;
    std::vector<Json> items;
    std::string text;

    const Json& operator[](const std::string& key) const {
        static const Json none;
        const auto at = members.find(key);
        return at == members.end() ? none : at->second;
    }
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& s) : s_(s) {}
    bool Read(Json& v) {
        Space();
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '{' || c == '[') {
            const bool object = c == '{';
            v.kind = object ? Json::Object : Json::Array;
            ++at_;
            Space();
            if (at_ < s_.size() && s_[at_] == (object ? '}' : ']')) return ++at_, true;
            for (;;) {
                Json item;
                std::string key;
                if (object) {
                    Json name;
                    Space();
                    if (!Read(name) || name.kind != Json::Text || !Expect(':')) return false;
                    key = name.text;
                }
                if (!Read(item)) return false;
                if (object)
                    v.members[key] = std::move(item);
                else
                    v.items.push_back(std::move(item));
                Space();
                if (at_ < s_.size() && s_[at_] == ',') {
                    ++at_;
                    continue;
                }
                return Expect(object ? '}' : ']');
            }
        }
        if (c == '"') {
            v.kind = Json::Text;
            for (++at_; at_ < s_.size() && s_[at_] != '"'; ++at_) {
                if (s_[at_] != '\\') {
                    v.text += s_[at_];
                    continue;
                }
                if (++at_ >= s_.size()) return false;
                const char e = s_[at_];
                if (e == 'u' && at_ + 4 < s_.size()) {
                    v.text +=
                        static_cast<char>(std::strtol(s_.substr(at_ + 1, 4).c_str(), nullptr, 16));
                    at_ += 4;
                } else {
                    v.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                }
            }
            return at_++ < s_.size();
        }
        const size_t from = at_;
        while (at_ < s_.size() && std::string(",]} \r\n").find(s_[at_]) == std::string::npos)
            ++at_;
        v.text = s_.substr(from, at_ - from);
        return at_ > from;
    }

  private:
    void Space() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_])))
            ++at_;
    }
    bool Expect(char c) {
        Space();
        return at_ < s_.size() && s_[at_++] == c;
    }
    const std::string& s_;
    size_t at_ = 0;
};

// A value of the API: [time, "value"].
double ValueOf(const Json& pair) {
    return pair.items.size() == 2 ? std::strtod(pair.items[1].text.c_str(), nullptr) : 0;
}

bool ParseAnswer(const std::string& body, std::vector<PrometheusRig::Series>& out,
                 std::string* error) {
    Json answer;
    JsonReader reader(body);
    if (!reader.Read(answer) || answer["status"].text != "success") {
        if (error) *error = body.empty() ? "no answer" : body;
        return false;
    }
    out.clear();
    for (const Json& r : answer["data"]["result"].items) {
        PrometheusRig::Series series;
        for (const auto& [name, value] : r["metric"].members)
            series.labels[name] = value.text;
        if (r["value"].kind == Json::Array) series.values.push_back(ValueOf(r["value"]));
        for (const Json& v : r["values"].items)
            series.values.push_back(ValueOf(v));
        out.push_back(std::move(series));
    }
    return true;
}

std::string Log(const std::string& path) {
    return "\n--- " + path + ":\n" + readTextFile(path);
}

}  // namespace

std::string UrlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool PrometheusRig::available() {
    return !FindProgram("prometheus", "VESK_PROMETHEUS").empty() &&
           !FindProgram("prometheus-node-exporter", "VESK_NODE_EXPORTER").empty();
}

std::string PrometheusRig::missingMessage() {
    return "prometheus or prometheus-node-exporter is not installed (apt-get install prometheus "
           "prometheus-node-exporter, as tools/install-deps.sh all does): Prometheus did not "
           "collect the metrics";
}

PrometheusRig::PrometheusRig() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vesk-prom-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    folder_ = pattern;
    textfiles_ = folder_ + "/textfile";
    std::filesystem::create_directories(textfiles_);
}

PrometheusRig::~PrometheusRig() {
    stop();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

bool PrometheusRig::start(std::string* error) {
    if (folder_.empty()) {
        if (error) *error = "no temporary folder";
        return false;
    }
    exporterPort_ = FreePort();
    serverPort_ = FreePort();
    const std::string exporterAt = "127.0.0.1:" + std::to_string(exporterPort_);
    std::ofstream(folder_ + "/prometheus.yml") << "global:\n"
                                                  "  scrape_interval: 1s\n"
                                                  "  evaluation_interval: 1s\n"
                                                  "scrape_configs:\n"
                                                  "  - job_name: station\n"
                                                  "    static_configs:\n"
                                                  "      - targets: ['"
                                               << exporterAt << "']\n";
    if (!exporter_.start({FindProgram("prometheus-node-exporter", "VESK_NODE_EXPORTER"),
                          "--web.listen-address=" + exporterAt, "--collector.disable-defaults",
                          "--collector.textfile", "--collector.textfile.directory=" + textfiles_},
                         -1, -1, folder_ + "/node-exporter.log", error) ||
        !server_.start({FindProgram("prometheus", "VESK_PROMETHEUS"),
                        "--config.file=" + folder_ + "/prometheus.yml",
                        "--storage.tsdb.path=" + folder_ + "/data",
                        "--web.listen-address=127.0.0.1:" + std::to_string(serverPort_)},
                       -1, -1, folder_ + "/prometheus.log", error))
        return false;
    // Up once a scrape of the exporter went through.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<Series> up;
    while (std::chrono::steady_clock::now() < deadline) {
        if (query("up{job=\"station\"} == 1", up, nullptr) && !up.empty()) return true;
        if (!exporter_.running() || !server_.running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (error)
        *error = "prometheus did not scrape node_exporter within 60 s" +
                 Log(folder_ + "/prometheus.log") + Log(folder_ + "/node-exporter.log");
    return false;
}

void PrometheusRig::stop() {
    server_.stop();
    exporter_.stop();
}

std::string PrometheusRig::url() const {
    return "http://127.0.0.1:" + std::to_string(serverPort_);
}

std::string PrometheusRig::get(const std::string& target) const {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(serverPort_);
    timeval limit{30, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string body;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request =
            "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (::send(s, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
                body.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(s);
    const size_t start = body.find("\r\n\r\n");
    return start == std::string::npos ? std::string() : body.substr(start + 4);
}

bool PrometheusRig::query(const std::string& promql, std::vector<Series>& out,
                          std::string* error) const {
    return ParseAnswer(get("/api/v1/query?query=" + UrlEncode(promql)), out, error);
}

bool PrometheusRig::queryRange(const std::string& promql, uint32_t seconds, uint32_t step,
                               std::vector<Series>& out, std::string* error) const {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return ParseAnswer(get("/api/v1/query_range?query=" + UrlEncode(promql) +
                           "&start=" + std::to_string(now - seconds) +
                           "&end=" + std::to_string(now) + "&step=" + std::to_string(step)),
                       out, error);
}

}  // namespace rig
