// After drivers/usb/class/usblp.c: one write transfer (URB) in flight at a
// time, wcomplete and rcomplete as the node's poll reports them.
#include "tests/usblp/usblp_model.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/usblp_calls.h"

namespace usblp_model {
namespace {

constexpr std::size_t kUsblpBufSize = 8192;  // USBLP_BUF_SIZE: the most one transfer carries
constexpr int kDescriptor = 1000;

struct Printer {
    std::string node;
    bool present = true;
    bool used = false;
    bool stalled = false;
    bool unplugDuringWait = false;
    bool writeFails = false;
    bool readFails = false;  // rstatus < 0: the read transfer ended in error
    bool bidirectional = true;
    std::string inFlight;  // the transfer submitted and not completed
    std::string received;
    std::string toHost;
    std::size_t dropped = 0;
};

Printer& The() {
    static auto* printer = new Printer;
    return *printer;
}

// usb_kill_urb: the transfer in flight ends without reaching the printer.
void Kill() {
    The().dropped += The().inFlight.size();
    The().inFlight.clear();
}

// The open printer of a call, or null with errno: EBADF for another
// descriptor; ENODEV once unplugged (usblp_wtest, usblp_rtest); EAGAIN
// when a non-blocking transfer cannot start: a write while the previous one
// is in flight, a read before the printer has sent anything.
Printer* Transferring(int fd, bool isRead) {
    int error = 0;
    if (fd != kDescriptor || !The().used) {
        error = EBADF;
    } else if (isRead && !The().bidirectional) {
        error = EINVAL;  // usblp_read: !usblp->bidir, checked before anything else
    } else if (!The().present) {
        error = ENODEV;
    } else if (isRead ? The().readFails : The().writeFails) {
        // usblp_read (rstatus < 0) and usblp_write (a failed submission on a
        // present printer) give EIO; the printer stays usable.
        (isRead ? The().readFails : The().writeFails) = false;
        error = EIO;
    } else if (isRead ? The().toHost.empty() : !The().inFlight.empty()) {
        error = EAGAIN;
    }
    if (error == 0) return &The();
    errno = error;
    return nullptr;
}

}  // namespace

void Reset(const std::string& node) {
    The() = Printer{};
    The().node = node;
}

void Unidirectional() {
    The().bidirectional = false;
}

void Replug() {
    The().present = true;
}

void Stall(bool stalled) {
    The().stalled = stalled;
}

void UnplugDuringNextWait() {
    The().unplugDuringWait = true;
}

void FailNextTransfer(bool read) {
    (read ? The().readFails : The().writeFails) = true;
}

void Send(const std::string& bytes) {
    The().toHost += bytes;
}

std::string Received() {
    return The().received;
}

std::size_t Dropped() {
    return The().dropped;
}

}  // namespace usblp_model

namespace plat::posix::lp {

using usblp_model::The;

// usblp_open: ENODEV without a present interface behind the node, EBUSY
// while it is open (usblp->used).
int Open(const char* path) {
    if (path != The().node || !The().present || The().used) {
        errno = The().used ? EBUSY : ENODEV;
        return -1;
    }
    The().used = true;
    return usblp_model::kDescriptor;
}

// usblp_release: usblp_unlink_urbs kills every transfer still in flight.
int Close(int fd) {
    if (fd != usblp_model::kDescriptor || !The().used) {
        errno = EBADF;
        return -1;
    }
    usblp_model::Kill();
    The().used = false;
    return 0;
}

// usblp_write with O_NONBLOCK: one transfer of at most USBLP_BUF_SIZE
// bytes is submitted and its length returned at once.
ssize_t Write(int fd, const void* data, size_t size) {
    usblp_model::Printer* printer = usblp_model::Transferring(fd, false);
    if (printer == nullptr) return -1;
    std::size_t length = std::min(size, usblp_model::kUsblpBufSize);
    printer->inFlight.assign(static_cast<const char*>(data), length);
    return static_cast<ssize_t>(length);
}

// usblp_read with O_NONBLOCK: what the printer has sent.
ssize_t Read(int fd, void* buffer, size_t size) {
    usblp_model::Printer* printer = usblp_model::Transferring(fd, true);
    if (printer == nullptr) return -1;
    std::size_t length = std::min(size, printer->toHost.size());
    std::memcpy(buffer, printer->toHost.data(), length);
    printer->toHost.erase(0, length);
    return static_cast<ssize_t>(length);
}

// usblp_poll: POLLHUP once unplugged, POLLIN when input has arrived,
// POLLOUT when no transfer is in flight (wcomplete). A poll that finds no
// event blocks for its whole time-out.
int Poll(int fd, short events, int timeoutMs, short* revents) {
    if (fd != usblp_model::kDescriptor || !The().used) {
        errno = EBADF;
        return -1;
    }
    if (timeoutMs != 0 && The().unplugDuringWait) {
        // usblp_disconnect: present cleared, the transfer in flight killed.
        The().unplugDuringWait = false;
        The().present = false;
        usblp_model::Kill();
    }
    if (timeoutMs != 0 && The().present && !The().stalled) {
        The().received += The().inFlight;
        The().inFlight.clear();
    }
    short ready = 0;
    if (!The().present) ready |= POLLHUP;
    if (!The().toHost.empty() || The().readFails) ready |= POLLIN;  // rcomplete
    if (The().inFlight.empty()) ready |= POLLOUT;
    *revents = static_cast<short>(ready & (events | POLLHUP | POLLERR));
    if (*revents != 0 || timeoutMs == 0) return *revents != 0 ? 1 : 0;
    if (timeoutMs < 0) {
        std::fprintf(stderr, "usblp model: a poll without time-out that nothing can end\n");
        std::abort();
    }
    ::poll(nullptr, 0, timeoutMs);
    return 0;
}

}  // namespace plat::posix::lp
