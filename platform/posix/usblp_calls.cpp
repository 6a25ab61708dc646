#include "platform/posix/usblp_calls.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace plat::posix::lp {

int Open(const char* path) {
    return ::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

int Close(int fd) {
    return ::close(fd);
}

ssize_t Read(int fd, void* buffer, size_t size) {
    return ::read(fd, buffer, size);
}

ssize_t Write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}

int Poll(int fd, short events, int timeoutMs, short* revents) {
    struct pollfd poller {};
    poller.fd = fd;
    poller.events = events;
    int ready = ::poll(&poller, 1, timeoutMs);
    *revents = ready > 0 ? poller.revents : 0;
    return ready;
}

}  // namespace plat::posix::lp
