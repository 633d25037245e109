// Line faults live with the demo lines (tester/demo/injection.h).
#pragma once

#include "tester/demo/injection.h"

namespace rig {
using demo::Injection;
using demo::InjectionSchedule;
}  // namespace rig
