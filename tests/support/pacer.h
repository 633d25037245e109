// The line pacer lives with the demo lines (tester/demo/pacer.h).
#pragma once

#include "tester/demo/pacer.h"

namespace rig {
using demo::Pacer;
}  // namespace rig
