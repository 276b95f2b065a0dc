#pragma once

#include <netinet/in.h>

#include <cstdint>

/// A TCP port that nobody listened on a moment ago (the kernel's choice for a probe socket that
/// is closed again); 0, with a test failure added, when no probe socket could be bound.
uint16_t freePort();

/// The address of `port` on the IPv6 loopback interface.
sockaddr_in6 loopbackAddress(uint16_t port);

/// A socket connected to `port` on the IPv6 loopback interface, or -1. A `receiveBuffer` above
/// 0 is set as the socket's receive buffer size before it connects.
int connectToLoopback(uint16_t port, int receiveBuffer = 0);
