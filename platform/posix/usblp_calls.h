// The system calls the USB backend makes on a usblp device node, in one
// place: the tests link a model of the kernel driver in their stead
// (tests/usblp/), since no pseudo-terminal behaves as usblp does.
#pragma once

#include <sys/types.h>

namespace plat::posix::lp {

// open(2) for reading and writing, non-blocking, close-on-exec: the
// descriptor, or -1 with errno.
int Open(const char* path);
int Close(int fd);
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t Write(int fd, const void* data, size_t size);
// poll(2) on one descriptor: >0 with *revents set, 0 after the time-out
// (milliseconds, -1 for none), -1 with errno.
int Poll(int fd, short events, int timeoutMs, short* revents);

}  // namespace plat::posix::lp
