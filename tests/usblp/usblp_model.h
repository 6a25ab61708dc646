// A model of the kernel's usblp driver standing in for the system calls the
// Linux backend makes on a printer node (platform/posix/usblp_calls.h): one
// printer behind one node path. Nothing happens on its own: a transfer in
// flight completes while the caller waits for it in poll.
#pragma once

#include <cstddef>
#include <string>

namespace usblp_model {

// A present, idle printer behind the node, closed, with nothing sent or
// received.
void Reset(const std::string& node);
// A 7/1/1 printer: no bulk-in endpoint, reads refused with EINVAL.
void Unidirectional();
// Plugs the unplugged printer in again.
void Replug();
// A stalled printer (offline, out of paper) completes no transfer.
void Stall(bool stalled);
// The printer is unplugged while the caller next waits in poll.
void UnplugDuringNextWait();
// The next write or read transfer ends in error while the printer stays
// present.
void FailNextTransfer(bool read);
// Bytes the printer sends to the host.
void Send(const std::string& bytes);
// Bytes of the transfers the printer completed, in order.
std::string Received();
// Bytes of the transfers killed before they completed.
std::size_t Dropped();

}  // namespace usblp_model
