// The one table from POSIX errno values to Windows error numbers and to
// Windows Sockets error numbers.
#pragma once

#include <cstdint>

namespace plat::posix {

std::uint32_t WindowsErrorFromErrno(int error);
int WsaErrorFromErrno(int error);

// Records errno's Windows meaning as the thread's last error.
void SetLastErrorFromErrno(int error);

}  // namespace plat::posix
