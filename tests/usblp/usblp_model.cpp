// After drivers/usb/class/usblp.c: one write transfer (URB) in flight at a
// time, wcomplete and rcomplete as the node's poll reports them.
#include "tests/usblp/usblp_model.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/posix/usblp_calls.h"

namespace usblp_model {
namespace {

constexpr std::size_t kUsblpBufSize = 8192;  // USBLP_BUF_SIZE: the most one transfer carries

struct Printer {
    bool present = true;
    bool used = false;
    bool stalled = false;
    bool unplugDuringWait = false;
    std::string inFlight;  // the transfer submitted and not completed
    std::string received;
    std::string toHost;
    std::size_t dropped = 0;
};

std::map<std::string, Printer>& Printers() {
    static auto* printers = new std::map<std::string, Printer>;
    return *printers;
}

std::map<int, std::string>& Descriptors() {
    static auto* descriptors = new std::map<int, std::string>;
    return *descriptors;
}

Printer* ByDescriptor(int fd) {
    auto it = Descriptors().find(fd);
    if (it == Descriptors().end()) return nullptr;
    return &Printers()[it->second];
}

void Kill(Printer& printer) {
    printer.dropped += printer.inFlight.size();
    printer.inFlight.clear();
}

// usblp_disconnect: present cleared; the transfer in flight ends with an
// error (usb_kill_urb), which also sets wcomplete.
void Disconnect(Printer& printer) {
    printer.present = false;
    Kill(printer);
}

}  // namespace

void Reset() {
    Printers().clear();
    Descriptors().clear();
}

void AddPrinter(const std::string& node) {
    Printer& printer = Printers()[node];
    printer.present = true;
    printer.stalled = false;
}

void Stall(const std::string& node, bool stalled) {
    Printers()[node].stalled = stalled;
}

void UnplugDuringNextWait(const std::string& node) {
    Printers()[node].unplugDuringWait = true;
}

void Send(const std::string& node, const std::string& bytes) {
    Printers()[node].toHost += bytes;
}

std::string Received(const std::string& node) {
    return Printers()[node].received;
}

std::size_t Dropped(const std::string& node) {
    return Printers()[node].dropped;
}

}  // namespace usblp_model

namespace plat::posix::lp {

using usblp_model::ByDescriptor;
using usblp_model::Printer;
using usblp_model::Printers;

int Open(const char* path) {
    auto it = Printers().find(path);
    // usblp_open: no such minor, or an interface that has gone: ENODEV.
    if (it == Printers().end() || !it->second.present) {
        errno = ENODEV;
        return -1;
    }
    // usblp_open: one open at a time (usblp->used): EBUSY.
    if (it->second.used) {
        errno = EBUSY;
        return -1;
    }
    it->second.used = true;
    static int next = 1000;
    usblp_model::Descriptors()[next] = path;
    return next++;
}

// usblp_release: usblp_unlink_urbs kills every transfer still in flight.
int Close(int fd) {
    Printer* printer = ByDescriptor(fd);
    if (printer == nullptr) {
        errno = EBADF;
        return -1;
    }
    usblp_model::Kill(*printer);
    printer->used = false;
    usblp_model::Descriptors().erase(fd);
    return 0;
}

// The printer of a transfer, or null with errno: ENODEV once unplugged
// (usblp_wtest, usblp_rtest), EAGAIN while a non-blocking transfer cannot
// start: a write while the previous one is in flight, a read before the
// printer has sent anything.
Printer* Transferring(int fd, bool isRead) {
    Printer* printer = ByDescriptor(fd);
    int error = 0;
    if (printer == nullptr) {
        error = EBADF;
    } else if (!printer->present) {
        error = ENODEV;
    } else if (isRead ? printer->toHost.empty() : !printer->inFlight.empty()) {
        error = EAGAIN;
    }
    errno = error != 0 ? error : errno;
    return error != 0 ? nullptr : printer;
}

// usblp_write with O_NONBLOCK: ENODEV once unplugged, EAGAIN while the
// previous transfer is in flight, otherwise one transfer of at most
// USBLP_BUF_SIZE bytes is submitted and its length returned at once.
ssize_t Write(int fd, const void* data, size_t size) {
    Printer* printer = Transferring(fd, false);
    if (printer == nullptr) return -1;
    std::size_t length = std::min(size, usblp_model::kUsblpBufSize);
    printer->inFlight.assign(static_cast<const char*>(data), length);
    return static_cast<ssize_t>(length);
}

// usblp_read with O_NONBLOCK: ENODEV once unplugged, EAGAIN until the
// printer has sent something, then what it sent.
ssize_t Read(int fd, void* buffer, size_t size) {
    Printer* printer = Transferring(fd, true);
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
    Printer* printer = ByDescriptor(fd);
    if (printer == nullptr) {
        errno = EBADF;
        return -1;
    }
    if (timeoutMs != 0) {
        if (printer->unplugDuringWait) {
            printer->unplugDuringWait = false;
            usblp_model::Disconnect(*printer);
        }
        if (printer->present && !printer->stalled && !printer->inFlight.empty()) {
            printer->received += printer->inFlight;
            printer->inFlight.clear();
        }
    }
    short ready = 0;
    if (!printer->present) ready |= POLLHUP;
    if (!printer->toHost.empty()) ready |= POLLIN;
    if (printer->inFlight.empty()) ready |= POLLOUT;
    ready &= static_cast<short>(events | POLLHUP | POLLERR);
    *revents = ready;
    if (ready != 0 || timeoutMs == 0) return ready != 0 ? 1 : 0;
    if (timeoutMs < 0) {
        std::fprintf(stderr, "usblp model: a poll without time-out that nothing can end\n");
        std::abort();
    }
    ::poll(nullptr, 0, timeoutMs);
    return 0;
}

}  // namespace plat::posix::lp
