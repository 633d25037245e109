#include "tester/batch/wiring.h"

#include <algorithm>

namespace {

constexpr uint32_t kMaxPortNumber = 255;

std::string Number(int32_t row) {
    return std::to_string(row + 1);
}

bool ReadPort(const std::string& text, uint32_t& port) {
    if (text.empty() || text.size() > 3) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    port = static_cast<uint32_t>(std::stoul(text));
    return port >= 1 && port <= kMaxPortNumber;
}

void Hear(Wiring& wiring, size_t row, int32_t source) {
    std::vector<int32_t>& heard = wiring.heard[row];
    if (std::find(heard.begin(), heard.end(), source) == heard.end()) heard.push_back(source);
    std::sort(heard.begin(), heard.end());
    wiring.probed[row] = true;
}

}  // namespace

int32_t Wiring::SourceOf(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= heard.size()) return -1;
    return heard[row].size() == 1 ? heard[row][0] : -1;
}

bool Wiring::Mutual(int32_t row) const {
    const int32_t source = SourceOf(row);
    return source >= 0 && SourceOf(source) == row;
}

bool ParseWiringDeclaration(const std::string& text, WiringDeclaration& declaration,
                            std::string& error) {
    declaration = WiringDeclaration();
    if (text == "pairs") {
        declaration.kind = WiringDeclaration::Pairs;
        return true;
    }
    if (text == "loop") {
        declaration.kind = WiringDeclaration::Loop;
        return true;
    }
    declaration.kind = WiringDeclaration::Map;
    std::vector<uint32_t> named;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        const std::string link =
            text.substr(from, comma == std::string::npos ? comma : comma - from);
        const size_t dash = link.find('-');
        uint32_t a = 0, b = 0;
        if (dash == std::string::npos || !ReadPort(link.substr(0, dash), a) ||
            !ReadPort(link.substr(dash + 1), b)) {
            error =
                "--wiring takes pairs, loop or links of port numbers (1 to 255) like "
                "1-2,3-3,4-6, not '" +
                link + "'";
            return false;
        }
        // A plug (3-3) names its port once.
        const std::vector<uint32_t> ports =
            a == b ? std::vector<uint32_t>{a} : std::vector<uint32_t>{a, b};
        for (uint32_t port : ports) {
            if (std::find(named.begin(), named.end(), port) != named.end()) {
                error = "--wiring names port " + std::to_string(port) + " in two links";
                return false;
            }
            named.push_back(port);
        }
        declaration.links.emplace_back(a, b);
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

bool DeclaredWiring(const WiringDeclaration& declaration, size_t rows, Wiring& wiring,
                    std::string& error) {
    wiring.heard.assign(rows, {});
    wiring.probed.assign(rows, false);
    switch (declaration.kind) {
        case WiringDeclaration::None:
            return true;
        case WiringDeclaration::Loop:
            for (size_t r = 0; r < rows; ++r)
                Hear(wiring, r, static_cast<int32_t>(r));
            return true;
        case WiringDeclaration::Pairs:
            for (size_t r = 0; r < rows; ++r) {
                const size_t partner = r ^ 1;
                Hear(wiring, r, static_cast<int32_t>(partner < rows ? partner : r));
            }
            return true;
        case WiringDeclaration::Map:
            break;
    }
    for (const auto& [a, b] : declaration.links) {
        if (a > rows || b > rows) {
            error = "--wiring names port " + std::to_string(a > rows ? a : b) + ", but " +
                    std::to_string(rows) + " ports are configured";
            return false;
        }
        Hear(wiring, a - 1, static_cast<int32_t>(b - 1));
        Hear(wiring, b - 1, static_cast<int32_t>(a - 1));
    }
    return true;
}

std::string SourceText(const Wiring& wiring, int32_t row) {
    if (row < 0 || static_cast<size_t>(row) >= wiring.Size() || !wiring.probed[row]) return "";
    const std::vector<int32_t>& heard = wiring.heard[row];
    if (heard.empty()) return "none";
    std::string text;
    for (int32_t source : heard)
        text += (text.empty() ? "" : "+") + Number(source);
    return text;
}

std::string WiringLine(const Wiring& wiring) {
    std::string line;
    auto add = [&](const std::string& item) { line += (line.empty() ? "" : ", ") + item; };
    for (size_t r = 0; r < wiring.Size(); ++r) {
        if (!wiring.probed[r]) continue;
        const auto row = static_cast<int32_t>(r);
        const int32_t source = wiring.SourceOf(row);
        if (source == row) {
            add(Number(row) + " loop");
        } else if (wiring.Mutual(row)) {
            if (source > row) add(Number(row) + "-" + Number(source));
        } else if (wiring.heard[r].empty()) {
            add(Number(row) + " none");
        } else {
            add(Number(row) + " hears " + SourceText(wiring, row));
        }
    }
    return line;
}

std::vector<std::pair<int32_t, int32_t>> WiredPairs(const Wiring& wiring) {
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (size_t r = 0; r < wiring.Size(); ++r) {
        const auto row = static_cast<int32_t>(r);
        const int32_t source = wiring.SourceOf(row);
        if (source == row || (wiring.Mutual(row) && source > row)) pairs.emplace_back(row, source);
    }
    return pairs;
}
