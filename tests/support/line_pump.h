// The cable's pump lives with the demo lines (tester/demo/line_pump.h).
#pragma once

#include "tester/demo/line_pump.h"
#include "tests/support/injection.h"
#include "tests/support/pacer.h"

namespace rig {
using demo::LinePump;
using demo::Pacing;
}  // namespace rig
