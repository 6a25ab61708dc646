// Telling, before any open, whether a path the library is to open as a file
// names a device. Opening a device has effects of its own (a serial port's
// modem lines change, a pipe's server sees a client, an exclusive port is
// taken from its owner), so such a path is refused without opening it.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// True for a path in the device namespace ("\\.\COM5", "\\.\pipe\name",
// "\\?\" with anything but a drive or a share after it, and the NT object
// path "\??\COM5"), for another machine's or this one's pipes and mailslots
// ("\\localhost\pipe\name", "\\?\UNC\server\mailslot\name"), for a path
// the system's own path rules turn into one (a
// reserved DOS device name such as COM5, NUL or "C:\logs\COM5.log" before
// Windows 11), for the console names, and for a path that cannot be read
// as one at all.
// A symbolic link or a junction as the path's last name is followed, as
// CreateFile follows it, and its target put through the same rules.
bool NamesADevice(const char* path);

// The target of a symbolic link or junction from its reparse data
// (REPARSE_DATA_BUFFER, as FSCTL_GET_REPARSE_POINT gives it), as a Win32
// path: "\??\" becomes "\\?\", and a relative target is taken from the
// folder of linkPath. False for other reparse data, or a target without an
// 8-bit form.
bool ReparseTarget(const unsigned char* data, std::uint32_t size, const char* linkPath,
                   std::string* target);

}  // namespace plat
