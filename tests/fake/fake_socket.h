// Control of the fake sockets: a scripted network in which every socket
// call can fail (fake::FailCall("send", 10053) and so on, errors being
// Windows Sockets numbers) and the peer's behaviour is set by the test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace fake {

// Forget every socket and script; fake::Reset calls it.
void ResetSockets();

// The next `count` connection waits end in a time-out (select gives 0), or
// with the connection refused (exception set, SO_ERROR 10061). A connect
// that fails at once is FailCall("connect", error).
void ConnectTimesOut(int count);
void ConnectRefused(int count);

// Each send on a TCP socket takes at most `bytes` bytes (0: no limit). A
// UDP sendto takes the whole datagram or fails.
void LimitSend(int bytes);
// The next `count` sends on a TCP socket take nothing and return 0.
void SendTakesNothing(int count);

// One chunk for a later recv or recvfrom, sent from the given address. On a
// TCP socket a receive takes at most what it asks for and the rest waits for
// the next one; on a UDP socket the chunk is a datagram (an empty one reads
// as 0 bytes), and one longer than the read is lost with 10040.
void QueueReceive(const std::string& bytes, const char* fromAddress = "127.0.0.1",
                  std::uint16_t fromPort = 9100);
// With nothing queued a receive fails with 10060 (time-out), or on a TCP
// socket returns 0 when the peer has closed.
void SetPeerClosed(bool closed);

// Runs `action` once, on the caller's thread, as soon as the peer has taken
// `bytes` bytes in all: what another process does meanwhile, such as
// truncating the file being sent (truncate(2): later reads see the new end).
void WhenSent(std::size_t bytes, std::function<void()> action);

// Every byte the peer took, in order, over all sockets.
std::string Sent();
// The size offered to each send or sendto call, in order.
std::vector<int> SendSizes();
// Receive sizes asked of each recv or recvfrom call, in order.
std::vector<int> ReceiveSizes();
// The destination of the last sendto, and the address of the last bind.
plat::SockAddrIn LastDestination();
plat::SockAddrIn LastBound();
// The last value set for an option (level and option in Windows numbering), -1 if never.
int LastOption(int level, int option);
// Sockets created and not yet closed, and sockets created since the reset.
int OpenSockets();
int CreatedSockets();

}  // namespace fake
