// The listening socket both loopback peers of the benchmark start from, and
// the raw client side the baselines measure the layer against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// A TCP socket listening on 127.0.0.1 at a free port, stored in *port;
// throws when the system refuses.
int ListenOnLoopback(std::uint16_t* port);

// A TCP connection to 127.0.0.1:port, or -1.
int ConnectToLoopback(std::uint16_t port);

// Sends size bytes with one send loop per piece of pieceBytes, as the layer
// cuts a write into packets. False when a send fails.
bool SendInPieces(int fd, const unsigned char* data, std::size_t size, std::size_t pieceBytes);

// Waits until the peer's TCP acknowledged everything sent on fd (SIOCOUTQ
// is 0), polling with the same growing pauses as the layer. False after 10 s.
bool WaitAcknowledged(int fd);

}  // namespace bench
