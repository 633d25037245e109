// Throughput and round trip through ser2net over a pseudo-terminal cable,
// for the library, for pyserial's RFC 2217 client and for a plain TCP socket
// on ser2net's raw tcp(nodelay) accepter (the floor). Prints its figures;
// asserts nothing.
//
//   serial_bench [--rows=TEXT] [--up] [megabytes per transfer, default 2]
//                [Key=Value,Key=Value ...]
//
// Rows: the library with its defaults, with the settings that bring it
// near the raw socket (kFastSettings), with each list of qelnet.ini keys
// given on the command line, pyserial, and the raw socket. The last
// columns divide the random-data rates by the raw socket's.
//
// Each figure is the median of five passes; in each pass every client in
// turn connects, makes each transfer once and disconnects. The CPU column
// is the processor time of the random-data transfers client to device, in
// ms per MB: this process (the client when it runs here, the cable's
// thread and the far end's reads) and pyserial's own process, + ser2net.
//
// Client to device: from the start of the client's writes until the far end
// of the cable has every byte. Device to client: from the start of the far
// end's writes until the client has read every byte. Round trip: the client
// writes 1 KiB and reads it back from the far end, which echoes; the median
// of 200. Data is checked on arrival; a mismatch is printed.
#include "netserial/net_socket.h"
#include "netserial/qelnet.h"
#include "netserial/settings.h"
#include "tests/netserial/far_end.h"
#include "tests/support/cable.h"
#include "tests/support/ser2net.h"
#include "tests/support/tcp_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// One client of the device server. Transfers are split into a preparation
// (not timed) and the transfer itself.
class Client {
  public:
    virtual ~Client() = default;
    virtual bool open(const rig::Ser2net& server) = 0;
    virtual void close() = 0;
    // Hands all of `data` to the line.
    virtual bool write(const Bytes& data) = 0;
    // Reads exactly n bytes (fewer on failure).
    virtual Bytes read(size_t n) = 0;
    virtual std::vector<double> echo(int count, size_t size) = 0;
    // A client that runs as a process of its own (pyserial): its pid, for
    // its processor time; 0 for clients inside this process.
    virtual pid_t childPid() const { return 0; }

    // Defaults for clients that run in this process; pyserial overrides.
    virtual void prepareWrite(const Bytes& data) { pending_ = &data; }
    virtual void startWrite() {
        worker_ = std::thread([this] { ok_ = write(*pending_); });
    }
    virtual bool finishWrite() {
        worker_.join();
        return ok_;
    }
    virtual void prepareRead(size_t n) {
        worker_ = std::thread([this, n] {
            got_ = read(n);
            done_ = Clock::now();
        });
    }
    // The bytes read and when the last one came.
    virtual Bytes finishRead(Clock::time_point& done) {
        worker_.join();
        done = done_;
        return std::move(got_);
    }

  protected:
    const Bytes* pending_ = nullptr;
    std::thread worker_;
    bool ok_ = false;
    Bytes got_;
    Clock::time_point done_;
};

class QelnetClient : public Client {
  public:
    explicit QelnetClient(qelnet::LibrarySettings settings) : settings_(settings) {}
    bool open(const rig::Ser2net& server) override {
        qelnet::gLibrarySettings = settings_;
        const std::string name = "127.0.0.1:" + std::to_string(server.telnetPort());
        h_ = QnCreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
        if (h_ == INVALID_HANDLE_VALUE) return false;
        DCB dcb{};
        QnGetCommState(h_, &dcb);
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        // The tester's read time-outs: at once with what came, else 100 ms.
        COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 100, 0, 0};
        return QnSetCommState(h_, &dcb) && QnSetCommTimeouts(h_, &t);
    }
    void close() override { QnCloseHandle(h_); }
    bool write(const Bytes& data) override {
        for (size_t at = 0; at < data.size(); at += 64000) {
            const DWORD n = static_cast<DWORD>(std::min<size_t>(64000, data.size() - at));
            DWORD count = 0;
            if (!QnWriteFile(h_, data.data() + at, n, &count, nullptr) || count != n) return false;
        }
        return true;
    }
    Bytes read(size_t n) override {
        Bytes got(n);
        size_t at = 0;
        int idle = 0;
        while (at < n && idle < 50) {
            DWORD count = 0;
            const DWORD ask = static_cast<DWORD>(std::min<size_t>(64000, n - at));
            if (!QnReadFile(h_, got.data() + at, ask, &count, nullptr)) break;
            idle = count ? 0 : idle + 1;
            at += count;
        }
        got.resize(at);
        return got;
    }
    std::vector<double> echo(int count, size_t size) override {
        std::vector<double> times;
        Bytes block(size), back;
        std::mt19937 rng(5);
        for (int i = 0; i < count; ++i) {
            for (uint8_t& b : block)
                b = static_cast<uint8_t>(rng());
            const auto start = Clock::now();
            if (!write(block)) break;
            back = read(size);
            times.push_back(seconds(start, Clock::now()));
            if (back != block) return {};
        }
        return times;
    }

  private:
    qelnet::LibrarySettings settings_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

class RawClient : public Client {
  public:
    bool open(const rig::Ser2net& server) override {
        conn_ = rig::TcpConnection::connect(server.rawPort());
        return conn_ != nullptr;
    }
    void close() override { conn_.reset(); }
    bool write(const Bytes& data) override { return conn_->send(data); }
    Bytes read(size_t n) override {
        Bytes got;
        conn_->receiveExactly(got, n, 60000);
        return got;
    }
    std::vector<double> echo(int count, size_t size) override {
        std::vector<double> times;
        Bytes block(size);
        std::mt19937 rng(5);
        for (int i = 0; i < count; ++i) {
            for (uint8_t& b : block)
                b = static_cast<uint8_t>(rng());
            const auto start = Clock::now();
            Bytes back;
            if (!conn_->send(block) ||
                conn_->receiveExactly(back, size, 5000) != rig::TcpConnection::Status::Data)
                return {};
            times.push_back(seconds(start, Clock::now()));
            if (back != block) return {};
        }
        return times;
    }

  private:
    std::unique_ptr<rig::TcpConnection> conn_;
};

// pyserial in /usr/bin/python3, driven over pipes (pyserial_client.py).
class PyserialClient : public Client {
  public:
    ~PyserialClient() override { close(); }
    bool open(const rig::Ser2net& server) override {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return false;
        const std::string url =
            "rfc2217://127.0.0.1:" + std::to_string(server.telnetPort()) + "?ign_set_control";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            execl("/usr/bin/python3", "python3", QELNET_BENCH_PYSERIAL_CLIENT, url.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = fdopen(fromChild[0], "r");
        out_ = fdopen(toChild[1], "w");
        return pid_ > 0 && line() == "open";
    }
    void close() override {
        if (pid_ <= 0) return;
        say("quit");
        fclose(out_);
        fclose(in_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void prepareWrite(const Bytes& data) override {
        std::ofstream(file_, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), data.size());
        say("write " + file_);
        line();  // loaded
    }
    void startWrite() override { say("go"); }
    bool finishWrite() override { return line() == "done"; }
    void prepareRead(size_t n) override {
        say("read " + std::to_string(n) + " " + file_);
        line();  // ready
    }
    Bytes finishRead(Clock::time_point& done) override {
        line();  // done
        done = Clock::now();
        line();  // saved
        std::ifstream f(file_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    std::vector<double> echo(int count, size_t size) override {
        say("echo " + std::to_string(count) + " " + std::to_string(size));
        std::vector<double> times;
        const std::string reply = line();
        if (reply.rfind("rtt ", 0) != 0) return times;
        for (const char* p = reply.c_str() + 4; *p;) {
            char* end = nullptr;
            const double t = std::strtod(p, &end);
            if (end == p) break;
            times.push_back(t);
            p = end;
        }
        return times;
    }
    bool write(const Bytes&) override { return false; }
    Bytes read(size_t) override { return {}; }
    pid_t childPid() const override { return pid_; }

  private:
    void say(const std::string& text) {
        fprintf(out_, "%s\n", text.c_str());
        fflush(out_);
    }
    std::string line() {
        static char buffer[1 << 20];
        if (!fgets(buffer, sizeof buffer, in_)) return "";
        std::string s(buffer);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        return s;
    }

    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    std::string file_ = "/tmp/qelnet_bench_" + std::to_string(getpid()) + ".bin";
};

struct Row {
    std::string name;
    double up[2] = {0, 0};    // MB/s client to device: random, 0xFF
    double down[2] = {0, 0};  // MB/s device to client
    double rttMs = 0;
    // Processor ms per MB of the random-data transfers client to device:
    // the client (this process, the far end's reads of the pty included,
    // and a client process of its own) and ser2net. Time on a processor
    // does not shrink when other programs take the processors as wall
    // time does, so rows of a busy machine stay comparable.
    double upClientMsPerMB = 0;
    double upServerMsPerMB = 0;
    std::string notes;
};

// Nanoseconds that process `pid` (every thread it has now) has spent on a
// processor. For this process itself, whose writers and readers are
// threads that end after each transfer, CLOCK_PROCESS_CPUTIME_ID, which
// keeps the time of ended threads.
uint64_t processCpuNs(pid_t pid) {
    if (pid == getpid()) {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
    }
    uint64_t total = 0;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* tasks = opendir(dir.c_str())) {
        while (dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream f(dir + "/" + entry->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (f >> ns) total += ns;
        }
        closedir(tasks);
    }
    return total;
}

// Processor time so far of the client's side and of the server.
struct CpuMark {
    uint64_t clientNs = 0;
    uint64_t serverNs = 0;
};

CpuMark cpuMark(const Client& client, const rig::Ser2net& server) {
    CpuMark m;
    m.clientNs = processCpuNs(getpid());
    if (const pid_t child = client.childPid()) m.clientNs += processCpuNs(child);
    m.serverNs = processCpuNs(server.pid());
    return m;
}

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes data(n);
    std::mt19937 rng(seed);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    return data;
}

void drain(qtest::FarEnd& far) {
    while (!far.read(65536, 50).empty()) {
    }
}

// Settings that keep nine tenths of the raw socket both ways with room to
// spare on a loaded machine: socket buffers of 256 KiB ride out the stalls
// of ser2net and the pty, and 16 KiB pieces take a sixteenth of the sends.
// (The defaults reach it here too, by a smaller margin.)
constexpr const char* kFastSettings = "SendBufSize=262144,RecvBufSize=262144,WriteBlockSize=16384";

// --up: the transfers client to device alone.
bool gUpOnly = false;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Client to device: MB/s, or 0 with a note when the data arrived wrong.
// `cpu` receives the processor time the transfer took, client and server.
double measureUp(Client& client, const rig::Ser2net& server, qtest::FarEnd& far, const Bytes& up,
                 CpuMark& cpu, std::string& notes) {
    client.prepareWrite(up);
    const CpuMark before = cpuMark(client, server);
    const auto start = Clock::now();
    client.startWrite();
    const Bytes arrived = far.read(up.size(), 120000);
    const auto end = Clock::now();
    const bool written = client.finishWrite();
    const CpuMark after = cpuMark(client, server);
    cpu.clientNs = after.clientNs - before.clientNs;
    cpu.serverNs = after.serverNs - before.serverNs;
    if (!written || arrived != up) {
        notes += " up mismatch;";
        return 0;
    }
    return arrived.size() / seconds(start, end) / 1e6;
}

double measureDown(Client& client, qtest::FarEnd& far, const Bytes& down, std::string& notes) {
    client.prepareRead(down.size());
    const auto from = Clock::now();
    far.write(down);
    Clock::time_point done;
    const Bytes got = client.finishRead(done);
    if (got != down) {
        notes += " down mismatch;";
        return 0;
    }
    return got.size() / seconds(from, done) / 1e6;
}

// The transfers of one client so far, one entry per pass.
struct Series {
    std::vector<double> up[2], down[2], upClientMs, upServerMs, echoSeconds;
    std::string notes;
};

// One pass of one client: connects, measures each transfer once (the echo
// on the first pass only) and lets the device go again.
void measurePass(Client& client, const rig::Ser2net& server, qtest::FarEnd& far, size_t upBytes,
                 size_t downBytes, bool withEcho, Series& series) {
    if (!client.open(server)) {
        series.notes += " could not connect;";
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // negotiation settles
    drain(far);
    for (int kind = 0; kind < 2; ++kind) {
        const Bytes up = kind ? Bytes(upBytes, 0xFF) : randomBytes(upBytes, 11);
        const Bytes down = kind ? Bytes(downBytes, 0xFF) : randomBytes(downBytes, 12);
        CpuMark cpu;
        series.up[kind].push_back(measureUp(client, server, far, up, cpu, series.notes));
        if (kind == 0) {
            series.upClientMs.push_back(cpu.clientNs / 1e6 / (up.size() / 1e6));
            series.upServerMs.push_back(cpu.serverNs / 1e6 / (up.size() / 1e6));
        }
        if (!gUpOnly) series.down[kind].push_back(measureDown(client, far, down, series.notes));
        drain(far);
    }
    if (withEcho && !gUpOnly) {
        std::atomic<bool> stop{false};
        std::thread echo([&] { far.echo(stop); });
        series.echoSeconds = client.echo(200, 1024);
        stop = true;
        echo.join();
        if (series.echoSeconds.empty()) series.notes += " echo failed;";
    }
    client.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // ser2net lets the device go
    drain(far);
}

Row summary(const std::string& name, const Series& series) {
    Row row;
    row.name = name;
    for (int kind = 0; kind < 2; ++kind) {
        row.up[kind] = median(series.up[kind]);
        row.down[kind] = median(series.down[kind]);
    }
    row.upClientMsPerMB = median(series.upClientMs);
    row.upServerMsPerMB = median(series.upServerMs);
    row.rttMs = median(series.echoSeconds) * 1000;
    row.notes = series.notes;
    return row;
}

// Library settings from "Key=Value,Key=Value" ([General] keys of
// qelnet.ini), read and normalised as the library reads its file.
qelnet::LibrarySettings settingsFrom(const std::string& list) {
    const std::string path = "/tmp/qelnet_bench_" + std::to_string(getpid()) + ".ini";
    {
        std::ofstream ini(path);
        ini << "[General]\n";
        std::istringstream items(list);
        std::string item;
        while (std::getline(items, item, ','))
            ini << item << "\n";
    }
    qelnet::LibrarySettings settings = qelnet::ReadLibrarySettings(path.c_str());
    std::remove(path.c_str());
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    // --rows=TEXT: only the rows whose names hold TEXT; --up: only the
    // transfers client to device. Both for profiling one client.
    std::string only;
    for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        if (std::strncmp(argv[1], "--rows=", 7) == 0) {
            only = argv[1] + 7;
        } else if (std::strcmp(argv[1], "--up") == 0) {
            gUpOnly = true;
        } else {
            std::printf("serial_bench: unknown option %s\n", argv[1]);
            return 2;
        }
    }
    const double mb = argc > 1 ? std::atof(argv[1]) : 2.0;
    const size_t bytes = static_cast<size_t>(mb * 1024 * 1024);
    if (rig::Ser2net::program().empty()) {
        std::printf("%s\n", rig::Ser2net::missingMessage().c_str());
        return 1;
    }
    qelnet::NetStartup();
    rig::NullModemCable cable;
    rig::Ser2net s2n({cable.pathA(), "115200n81", true});
    std::string error;
    if (!s2n.start(&error)) {
        std::printf("ser2net: %s\n", error.c_str());
        return 1;
    }
    qtest::FarEnd far(cable.pathB());

    // The library's defaults; the settings that bring it to within a tenth
    // of the raw socket both ways (see docs/library.md); any lists given on
    // the command line.
    struct Setup {
        std::string name;
        std::unique_ptr<Client> client;
    };
    std::vector<Setup> setups;
    setups.push_back(
        {"qelnet, defaults", std::make_unique<QelnetClient>(qelnet::LibrarySettings())});
    setups.push_back({"qelnet, " + std::string(kFastSettings),
                      std::make_unique<QelnetClient>(settingsFrom(kFastSettings))});
    for (int i = 2; i < argc; ++i)
        setups.push_back({std::string("qelnet, ") + argv[i],
                          std::make_unique<QelnetClient>(settingsFrom(argv[i]))});
    setups.push_back({"pyserial rfc2217", std::make_unique<PyserialClient>()});
    setups.push_back({"raw tcp(nodelay) (floor)", std::make_unique<RawClient>()});

    // The clients take turns, a transfer of each per pass, so that the
    // machine's other load, which comes and goes over seconds, falls on
    // every row alike instead of on whichever row ran at the time.
    const int repeats = 5;
    std::vector<Setup*> measured;
    for (Setup& setup : setups)
        if (setup.name.find(only) != std::string::npos) measured.push_back(&setup);
    std::vector<Series> series(measured.size());
    for (int pass = 0; pass < repeats; ++pass)
        for (size_t i = 0; i < measured.size(); ++i)
            measurePass(*measured[i]->client, s2n, far, bytes, bytes, pass == 0, series[i]);
    std::vector<Row> rows;
    for (size_t i = 0; i < measured.size(); ++i)
        rows.push_back(summary(measured[i]->name, series[i]));

    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    std::printf(
        "\nser2net over a pty cable on 127.0.0.1; %.1f MiB per transfer, median of %d; MB = 10^6 "
        "bytes; load average %.2f\n",
        mb, repeats, load);
    if (rows.empty()) return 1;
    const Row& raw = rows.back();  // the floor, when it was measured
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
    std::printf("%-66s %8s %8s %8s %8s %10s %13s   %s\n", "client", "up rand", "up 0xFF", "dn rand",
                "dn 0xFF", "1 KiB echo", "up rand CPU", "x raw: up rand, dn rand");
    std::printf("%-66s %8s %8s %8s %8s %10s %13s\n", "", "MB/s", "MB/s", "MB/s", "MB/s",
                "median ms", "ms/MB cli+srv");
    for (const Row& r : rows)
        std::printf("%-66s %8.2f %8.2f %8.2f %8.2f %10.3f %6.1f+%6.1f   %4.2f %4.2f %s\n",
                    r.name.c_str(), r.up[0], r.up[1], r.down[0], r.down[1], r.rttMs,
                    r.upClientMsPerMB, r.upServerMsPerMB, ratio(r.up[0], raw.up[0]),
                    ratio(r.down[0], raw.down[0]), r.notes.c_str());
    return 0;
}
