// A model of the kernel's usblp driver standing in for the system calls the
// Linux backend makes on a printer node (platform/posix/usblp_calls.h).
// Printers are named by their node path. Nothing happens on its own: a
// transfer in flight completes while the caller waits for it in poll.
#pragma once

#include <cstddef>
#include <string>

namespace usblp_model {

// No printers.
void Reset();
// A present, idle printer behind the node; also plugs an unplugged one in again.
void AddPrinter(const std::string& node);
// A stalled printer (offline, out of paper) completes no transfer.
void Stall(const std::string& node, bool stalled);
// The printer is unplugged while the caller next waits in poll.
void UnplugDuringNextWait(const std::string& node);
// Bytes the printer sends to the host.
void Send(const std::string& node, const std::string& bytes);
// Bytes of the transfers the printer completed, in order.
std::string Received(const std::string& node);
// Bytes of the transfers killed before they completed.
std::size_t Dropped(const std::string& node);

}  // namespace usblp_model
