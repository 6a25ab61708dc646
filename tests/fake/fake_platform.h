// Control of the scriptable fake platform used by unit tests. Every call of
// the platform layer can be told to fail with a given Windows error.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common/RegStore.h"
#include "platform/types.h"

namespace fake {

// Back to the initial state: empty registry, no faults, fixed clock off,
// debugger output cleared, NT 6.1 version record, no default log path, no
// serial ports or DOS device names.
void Reset();

// The next `count` calls of `call` (the platform function's name, such as
// "SetCommState"), after `skip` calls that succeed, fail with `error`.
void FailCall(const std::string& call, std::uint32_t error, int count = 1, int skip = 0);
// Consumed by the fakes: true when this call must fail; *error is then set
// and also recorded as the thread's last error.
bool ShouldFail(const char* call, std::uint32_t* error);
// How many times a platform call was made since Reset.
int CallCount(const std::string& call);
void CountCall(const char* call);

// Registry: HKEY_LOCAL_MACHINE and friends from .reg text.
void SetRegistry(const std::string& regText);
plat::reg::Store& Registry();

// Clock: a fixed local time instead of the real one.
void SetLocalTime(const plat::SystemTime& time);
void UseRealClock();

// The path DefaultLayerLogPath reports (Reset: none, so a port without a
// path drops its lines); tests point it into their own folder. Ports built
// afterwards use it.
void SetDefaultLogPath(const std::string& path);

// What OutputDebugStringA received since Reset.
std::string DebugOutput();

// The version record GetVersionExA reports (platformId 2 is NT).
void SetVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);

}  // namespace fake
