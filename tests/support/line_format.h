// Line timing lives with the demo lines (tester/demo/line_format.h).
#pragma once

#include "tester/demo/line_format.h"

namespace rig {
using demo::charTimeNs;
using demo::frameBits;
using demo::LineFormat;
using demo::readLineFormat;
}  // namespace rig
