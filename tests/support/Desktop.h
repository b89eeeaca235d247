#pragma once

// The whole-program test harness lives in ExhibitRun.h; this name is kept for files that still
// include it.
#include "support/ExhibitRun.h"
