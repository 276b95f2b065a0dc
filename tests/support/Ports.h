#pragma once

#include <cstdint>

/// A TCP port that nobody listened on a moment ago (the kernel's choice for a probe socket that
/// is closed again); 0, with a test failure added, when no probe socket could be bound.
uint16_t freePort();
