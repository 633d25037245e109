// The null-modem cable and loop-back plug are the product's own demo lines
// (tester/demo/); the rigs use that one cable under their familiar names.
#pragma once

#include "tester/demo/cable.h"
#include "tests/support/injection.h"
#include "tests/support/line_pump.h"

namespace rig {
using demo::Dir;
using demo::LoopbackPlug;
using demo::NullModemCable;
using demo::Pty;
}  // namespace rig
