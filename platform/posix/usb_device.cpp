// USB device paths on Linux. \\?\usb#...#{class} and its pipes
// \PIPE00\ and \PIPE01\ all map to the printer's usblp node. usblp lets one
// process open a node only once, so every handle of one node shares one
// descriptor, kept open while any handle is.
//
// Overlapped requests keep their Windows meaning over poll. ReadFile and
// WriteFile with a record issue the request: it completes at once, goes
// pending (ERROR_IO_PENDING), or is refused with its error; an unplugged
// node refuses with access denied, as Windows does after an unplug.
// WaitForSingleObject waits for a pending request with poll and carries it
// on; GetOverlappedResult collects it; CancelIo ends it.
//
// The node is opened non-blocking, so usblp's write returns as soon as the
// transfer is queued, and polls writable only once the driver has completed
// it. A write request therefore completes only then: the bytes a caller
// counts as written have been transferred, and releasing the node (which
// kills every transfer in flight) loses none of them. usblp keeps the
// outcome of a completed transfer to itself (only a blocking writer, which
// no time-out can bound, would see it), so a transfer that ended in error
// on a printer still present counts as written too. A write cancelled
// before its transfer completed releases and reopens the node, the only way
// usblp drops a transfer; input the driver already holds is read out first.
//
// DeviceIoControl of the vendor GET_COMMAND request (interface 0) is sent
// as a usbfs control transfer on /dev/bus/usb/BBB/DDD: a vendor request to
// the printer interface, device to host, whose answer fills the output
// buffer. It needs write access to that node; without it the call fails
// with the system's error.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/common/LibraryObject.h"
#include "platform/device.h"
#include "platform/posix/device_openers.h"
#include "platform/posix/errors.h"
#include "platform/posix/usblp.h"
#include "platform/posix/usblp_calls.h"
#include "platform/system.h"

namespace plat::posix {

namespace {

constexpr std::uint32_t kGetCommandIoctl = 0x22003C;  // IOCTL_USBPRINT_VENDOR_GET_COMMAND
constexpr std::uint8_t kVendorInterfaceIn = 0xC1;
constexpr unsigned kControlTimeoutMs = 5000;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
// How long a failed transfer is watched for the unplug it may announce.
constexpr int kUnplugChecks = 25;
constexpr long kUnplugCheckMs = 10;

// Input read out of a node before a release is kept for later reads, up to
// this much.
constexpr std::size_t kMaxHeldInput = 64 * 1024;

// Errors with which a node reports that its device has been unplugged. EIO
// alone is a failed transfer (usblp gives it for a transfer that ended in
// error on a printer still present, and a later transfer may succeed); only
// with a hang-up (a disconnected node, a pseudo-terminal's closed other
// side), or when the device leaves sysfs right after, does it mean the
// device is gone.
bool DeviceGone(int error, bool hungUp) {
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN || error == EPIPE ||
           (error == EIO && hungUp);
}

// One open descriptor of a device node, shared by its handles. A node whose
// reopen failed has no descriptor: its device is taken as gone.
class SharedNode {
public:
    SharedNode(std::string nodePath, int descriptor) : path(std::move(nodePath)), fd(descriptor) {}
    ~SharedNode() {
        if (fd >= 0) lp::Close(fd);
    }
    SharedNode(const SharedNode&) = delete;
    SharedNode& operator=(const SharedNode&) = delete;

    // Releases the node, which kills every transfer in flight, and opens it
    // again. Input that has already arrived is read out first and kept.
    void Reopen() {
        if (fd < 0) return;
        char chunk[4096];
        while (heldInput.size() < kMaxHeldInput) {
            ssize_t got = lp::Read(fd, chunk, sizeof(chunk));
            if (got <= 0) break;
            heldInput.append(chunk, static_cast<std::size_t>(got));
        }
        lp::Close(fd);
        fd = lp::Open(path.c_str());
    }

    const std::string path;
    int fd;
    std::string heldInput;
};

struct NodeTable {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<SharedNode>> nodes;
};

common::LibraryObject<NodeTable> nodeTable;

NodeTable& Nodes() {
    return nodeTable.Get();
}

std::shared_ptr<SharedNode> OpenNode(const std::string& path) {
    std::lock_guard<std::mutex> guard(Nodes().lock);
    std::shared_ptr<SharedNode> node = Nodes().nodes[path].lock();
    if (node && node->fd < 0) node->fd = lp::Open(path.c_str());
    if (node && node->fd >= 0) return node;
    if (node) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    int fd = lp::Open(path.c_str());
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    node = std::make_shared<SharedNode>(path, fd);
    Nodes().nodes[path] = node;
    return node;
}

long long NowMs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool StartsWithNoCase(const std::string& text, const char* start) {
    std::size_t n = std::strlen(start);
    return text.size() >= n && strncasecmp(text.c_str(), start, n) == 0;
}

// The device path without a trailing \PIPE00\ or \PIPE01\.
std::string WithoutPipe(const std::string& path, bool* isPipe) {
    *isPipe = false;
    for (const char* suffix : {"\\PIPE00\\", "\\PIPE01\\"}) {
        std::size_t n = std::strlen(suffix);
        if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0) {
            *isPipe = true;
            return path.substr(0, path.size() - n);
        }
    }
    return path;
}

class UsbNodeHandle : public common::DeviceObject {
public:
    UsbNodeHandle(std::shared_ptr<SharedNode> sharedNode, UsbPrinterNode printer, bool pipe)
        : node(std::move(sharedNode)), description(std::move(printer)), isPipe(pipe) {}

    bool Close() override {
        node.reset();
        return true;
    }

    bool Read(void* buffer, std::uint32_t toRead, std::uint32_t* read,
              Overlapped* overlapped) override {
        return Issue(true, buffer, toRead, read, overlapped);
    }
    bool Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               Overlapped* overlapped) override {
        return Issue(false, const_cast<void*>(buffer), toWrite, written, overlapped);
    }

    // Only a pending request signals the handle when it ends. As on
    // Windows, a handle whose request never went pending stays unsignalled
    // for the whole wait.
    std::uint32_t Wait(std::uint32_t milliseconds) override {
        if (request.state == State::Completed || request.state == State::Cancelled) {
            return kWaitObject0;
        }
        long long deadline = NowMs() + milliseconds;
        for (;;) {
            int timeout = -1;
            if (milliseconds != kInfinite) {
                long long left = deadline - NowMs();
                timeout = left > 0 ? static_cast<int>(left < 1000000 ? left : 1000000) : 0;
            }
            int ready = 1;  // a node without a descriptor fails the request at once
            if (request.state != State::Pending) {
                ready = ::poll(nullptr, 0, timeout);
            } else if (node->fd >= 0) {
                short revents = 0;
                ready = lp::Poll(node->fd, request.isRead ? POLLIN : POLLOUT, timeout, &revents);
            }
            if (ready < 0 && errno != EINTR) {
                SetLastErrorFromErrno(errno);
                return kWaitFailed;
            }
            if (ready > 0) {
                Advance(true);
                if (request.state != State::Pending) return kWaitObject0;
            }
            if (milliseconds != kInfinite && NowMs() >= deadline) return kWaitTimeout;
        }
    }

    // Never waits for a request that did not go pending, which on Windows
    // would never return.
    bool GetOverlappedResult(Overlapped*, std::uint32_t* transferred, bool wait) override {
        if (request.state == State::Pending && wait) Wait(kInfinite);
        switch (request.state) {
            case State::Completed:
                if (request.error != 0) {
                    SetLastError(request.error);
                    return false;
                }
                if (transferred != nullptr) *transferred = request.transferred;
                return true;
            case State::Cancelled:
                SetLastError(kErrorOperationAborted);
                return false;
            default:
                SetLastError(kErrorIoIncomplete);
                return false;
        }
    }

    bool CancelIo() override {
        if (request.state != State::Pending) return true;
        if (!request.isRead && request.submitted > 0) node->Reopen();
        request.state = State::Cancelled;
        return true;
    }

    bool DeviceIoControl(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* returned) override {
        if (isPipe || code != kGetCommandIoctl || in == nullptr || inSize < 3 ||
            (out == nullptr && outSize > 0)) {
            SetLastError(kErrorInvalidParameter);
            return false;
        }
        std::string busnum = ReadNumber("/busnum");
        std::string devnum = ReadNumber("/devnum");
        char usbfs[64];
        std::snprintf(usbfs, sizeof(usbfs), "/bus/usb/%03d/%03d", std::atoi(busnum.c_str()),
                      std::atoi(devnum.c_str()));
        int fd = ::open((DevRoot() + usbfs).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        struct usbdevfs_ctrltransfer transfer {};
        transfer.bRequestType = kVendorInterfaceIn;
        transfer.bRequest = bytes[0];
        transfer.wValue = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
        transfer.wIndex = static_cast<std::uint16_t>(description.interfaceNumber);
        transfer.wLength = static_cast<std::uint16_t>(outSize < 0xFFFF ? outSize : 0xFFFF);
        transfer.timeout = kControlTimeoutMs;
        transfer.data = out;
        int result = ::ioctl(fd, USBDEVFS_CONTROL, &transfer);
        int error = errno;
        ::close(fd);
        if (result < 0) {
            SetLastErrorFromErrno(error);
            return false;
        }
        if (returned != nullptr) *returned = static_cast<std::uint32_t>(result);
        return true;
    }

private:
    enum class State { None, Refused, Pending, Completed, Cancelled };
    struct Request {
        State state = State::None;
        bool isRead = false;
        void* buffer = nullptr;
        std::uint32_t size = 0;
        std::uint32_t submitted = 0;  // bytes of a write the driver has queued
        std::uint32_t transferred = 0;
        std::uint32_t error = 0;
    };

    std::string ReadNumber(const char* attribute) const {
        std::string text;
        if (FILE* file = std::fopen((description.usbDevice + attribute).c_str(), "r")) {
            char line[32] = {};
            if (std::fgets(line, sizeof(line), file) != nullptr) text = line;
            std::fclose(file);
        }
        return text;
    }

    bool Issue(bool isRead, void* buffer, std::uint32_t size, std::uint32_t* count,
               Overlapped* overlapped) {
        if (count != nullptr) *count = 0;
        request = Request{};
        request.state = State::Pending;
        request.isRead = isRead;
        request.buffer = buffer;
        request.size = size;
        Advance(false);
        if (overlapped == nullptr && request.state == State::Pending) Wait(kInfinite);
        switch (request.state) {
            case State::Refused:
                SetLastError(request.error);
                return false;
            case State::Pending:
                SetLastError(kErrorIoPending);
                return false;
            default:
                return GetOverlappedResult(nullptr, count, false);
        }
    }

    // One non-blocking step of the pending request. An error ends it: at
    // issue the request is refused, later it completes with the error.
    void Advance(bool waited) {
        int error = 0;
        if (node->fd < 0) {
            error = ENODEV;
        } else if (request.isRead) {
            error = AdvanceRead();
        } else {
            error = AdvanceWrite();
        }
        if (error == 0 || error == EAGAIN || error == EINTR) return;
        bool gone = DeviceGone(error, error == EIO && node->fd >= 0 && HungUp());
        if (!gone && error == EIO) gone = GoesAway();
        request.error = gone ? kErrorAccessDenied : WindowsErrorFromErrno(error);
        request.state = waited ? State::Completed : State::Refused;
    }

    int AdvanceRead() {
        if (!node->heldInput.empty()) {
            std::size_t n = std::min<std::size_t>(request.size, node->heldInput.size());
            std::memcpy(request.buffer, node->heldInput.data(), n);
            node->heldInput.erase(0, n);
            return Complete(static_cast<std::uint32_t>(n));
        }
        ssize_t done = lp::Read(node->fd, request.buffer, request.size);
        if (done < 0) return errno;
        // A node whose device has gone reads as end of file and polls as
        // hung up (a terminal whose other side closed).
        if (done == 0 && request.size > 0 && HungUp()) return ENODEV;
        return Complete(static_cast<std::uint32_t>(done));
    }

    // usblp: a non-blocking write queues one transfer and returns its
    // length at once, or EAGAIN while the previous one is in flight; the
    // node polls writable once the transfer has completed, and hung up
    // after an unplug, which also ends a transfer in flight.
    int AdvanceWrite() {
        if (request.submitted == 0) {
            ssize_t done = lp::Write(node->fd, request.buffer, request.size);
            if (done < 0) return errno;
            if (done == 0) return Complete(0);
            request.submitted = static_cast<std::uint32_t>(done);
        }
        short revents = 0;
        if (lp::Poll(node->fd, POLLOUT, 0, &revents) < 0) return errno;
        if ((revents & (POLLHUP | POLLERR)) != 0) return ENODEV;
        if ((revents & POLLOUT) != 0) return Complete(request.submitted);
        return EAGAIN;
    }

    int Complete(std::uint32_t transferred) {
        request.state = State::Completed;
        request.transferred = transferred;
        return 0;
    }

    // usblp fails a transfer with EIO when the host controller refuses it,
    // which is also the first sign of an unplug: the device is already
    // gone from the bus but the driver has not been told yet. The unplug
    // completes within milliseconds (the device's sysfs folder goes); a
    // printer still there after that had a transfer fail.
    bool GoesAway() const {
        for (int i = 0; i < kUnplugChecks; ++i) {
            struct stat info {};
            if (::stat(description.usbDevice.c_str(), &info) != 0) return true;
            if (node->fd >= 0 && HungUp()) return true;
            struct timespec pause {
                0, kUnplugCheckMs * 1000 * 1000
            };
            nanosleep(&pause, nullptr);
        }
        return false;
    }

    bool HungUp() const {
        short revents = 0;
        return lp::Poll(node->fd, POLLIN, 0, &revents) > 0 && (revents & POLLHUP) != 0;
    }

    std::shared_ptr<SharedNode> node;
    UsbPrinterNode description;
    bool isPipe;
    Request request;
};

}  // namespace

std::unique_ptr<common::DeviceObject> OpenUsbDevice(const char* path, std::uint32_t /*access*/,
                                                    std::uint32_t /*shareMode*/,
                                                    std::uint32_t /*creationDisposition*/,
                                                    std::uint32_t /*flags*/, bool* claimed) {
    std::string full = path;
    *claimed = StartsWithNoCase(full, "\\\\?\\usb#");
    if (!*claimed) return nullptr;
    bool isPipe = false;
    std::string device = WithoutPipe(full, &isPipe);
    for (const UsbPrinterNode& printer : UsbPrinterNodes()) {
        if (strcasecmp(printer.interfacePath.c_str(), device.c_str()) != 0) continue;
        std::shared_ptr<SharedNode> node = OpenNode(printer.node);
        if (!node) return nullptr;
        return std::make_unique<UsbNodeHandle>(std::move(node), printer, isPipe);
    }
    SetLastError(kErrorFileNotFound);
    return nullptr;
}

}  // namespace plat::posix
