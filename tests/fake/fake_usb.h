// Control of the fake's USB devices: device-interface sets per class GUID,
// scripted pipes and control requests. Devices are named by their interface
// path (\\?\usb#vid_0f3c&pid_0101#A1B2C3#{class GUID}); the pipes by
// "PIPE00" and "PIPE01", the device itself (interface 0) by "".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake::usb {

// No devices, no scripts.
void Reset();

// A present device exposing an interface of the class ("{...}" text).
// heldElsewhere: another program holds it open, so every open is refused
// with a sharing violation.
void AddInterface(const std::string& classGuid, const std::string& path,
                  bool heldElsewhere = false);
// The device leaves every set; requests on its open handles fail with
// access denied and their waits run out, as after an unplug.
void Unplug(const std::string& path);

// The device is unplugged just before the request-th next request on it
// (reads and writes on any of its pipes, from 1), which is refused.
void UnplugAtRequest(const std::string& path, int request);
// Waits that Windows would end only by their time-out or never:
// WaitForSingleObject on a handle whose request never went pending, and
// GetOverlappedResult with wait on anything but a completed or cancelled
// request.
int HangingWaits();

// The next write request on the pipe completes with at most `count` bytes
// (0 for a completion without bytes). Without a script a write completes whole.
void QueueWriteCompletion(const std::string& path, const std::string& pipe, std::uint32_t count);
// Runs `action` once, with the fake's state locked (it must not call the
// fake), as soon as the pipe has taken `bytes` bytes in all: what another
// process does meanwhile, such as truncating the file being sent
// (truncate(2): later reads see the new end).
void WhenWritten(const std::string& path, const std::string& pipe, std::size_t bytes,
                 std::function<void()> action);
// Write requests on the pipe stay pending: their waits time out.
void StallWrites(const std::string& path, const std::string& pipe);
// Bytes the device sends on the pipe; a read without bytes waiting times out.
void FeedRead(const std::string& path, const std::string& pipe, const std::string& bytes);
// Bytes accepted on the pipe, and the size of each write request made.
std::string Written(const std::string& path, const std::string& pipe);
std::vector<std::uint32_t> WriteRequests(const std::string& path, const std::string& pipe);

// The answer to the next control request on the device (empty without one).
void QueueControlAnswer(const std::string& path, const std::string& answer);
// The input bytes of every control request made on the device.
std::vector<std::string> ControlRequests(const std::string& path);

// Device-information sets not yet destroyed.
int OpenSetCount();

}  // namespace fake::usb
