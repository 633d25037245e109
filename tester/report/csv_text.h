// A CSV field as RFC 4180 writes it, for every CSV file the tester makes
// (the final report, the interval log).
#pragma once

#include <string>

// The text unchanged, or quoted (inner quotes doubled) when it holds a
// comma, a quote or a line break.
std::string CsvField(const std::string& text);
