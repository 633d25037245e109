// The window tester's metrics file, from the [Metrics] section of its
// configuration file (its command line is the configuration's path, so
// the file's keys stand where the terminal tester's options do):
//
//   [Metrics]
//   File=C:\Program Files\windows_exporter\textfile_inputs\vesktest.prom
//   Interval=5
//   Station=rack3-bench2
//   Unit=SN-1042
//
// File: where the metrics go, in the Prometheus text format (none: no
// metrics). Interval: seconds between writes, 1 to 86400 (default 5; a
// value outside takes the default). Station: the station label (default:
// the computer's name). Unit: the unit label (default: none).
//
// The tester only reads the section; saving the configuration leaves it as
// it was, comments included.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t kDefaultMetricsIntervalSeconds = 5;
constexpr uint32_t kMaxMetricsIntervalSeconds = 86400;

struct MetricsSettings {
    std::string file;  // "" when the section names none
    uint32_t intervalSeconds = kDefaultMetricsIntervalSeconds;
    std::string station;  // "" when not given
    std::string unit;
};

// Reads [Metrics] of the file at `path`: keys matched without regard to
// case, blanks around keys and values dropped, lines that begin with ';'
// or '#' skipped; an unknown key is ignored.
MetricsSettings LoadMetricsSettings(const std::string& path);
