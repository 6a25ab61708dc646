// USB device paths on Linux. \\?\usb#...#{class} and its pipes
// \PIPE00\ and \PIPE01\ all map to the printer's usblp node. usblp lets one
// process open a node only once, so every handle of one node shares one
// descriptor, kept open while any handle is.
//
// Overlapped requests keep their Windows meaning over poll: ReadFile and
// WriteFile with a record issue the request (done at once when the node is
// ready), WaitForSingleObject waits for it with poll and carries it out,
// GetOverlappedResult collects the count and CancelIo drops it. A node
// that has gone refuses requests with access denied and never signals, as
// Windows does after an unplug; the wait then reports its time-out at
// once rather than sleeping it out.
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
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/device.h"
#include "platform/posix/device_openers.h"
#include "platform/posix/errors.h"
#include "platform/posix/usblp.h"
#include "platform/system.h"

namespace plat::posix {

namespace {

constexpr std::uint32_t kGetCommandIoctl = 0x22003C;  // IOCTL_USBPRINT_VENDOR_GET_COMMAND
constexpr std::uint8_t kVendorInterfaceIn = 0xC1;
constexpr unsigned kControlTimeoutMs = 5000;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// One open descriptor of a device node, shared by its handles.
class SharedNode {
public:
    explicit SharedNode(int descriptor) : fd(descriptor) {}
    ~SharedNode() { ::close(fd); }
    SharedNode(const SharedNode&) = delete;
    SharedNode& operator=(const SharedNode&) = delete;
    const int fd;
};

struct NodeTable {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<SharedNode>> nodes;
};

NodeTable& Nodes() {
    static auto* table = new NodeTable;
    return *table;
}

std::shared_ptr<SharedNode> OpenNode(const std::string& path) {
    std::lock_guard<std::mutex> guard(Nodes().lock);
    std::shared_ptr<SharedNode> node = Nodes().nodes[path].lock();
    if (node) return node;
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    node = std::make_shared<SharedNode>(fd);
    Nodes().nodes[path] = node;
    return node;
}

// Errors with which a node reports that its device has been unplugged.
bool DeviceGone(int error) {
    return error == ENODEV || error == EIO || error == ENXIO || error == ESHUTDOWN ||
           error == EPIPE;
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

    std::uint32_t Wait(std::uint32_t milliseconds) override {
        if (!request.active || request.finished) return kWaitObject0;
        if (request.gone) {
            SetLastError(kErrorAccessDenied);
            return kWaitTimeout;
        }
        long long deadline = NowMs() + milliseconds;
        for (;;) {
            int timeout = -1;
            if (milliseconds != kInfinite) {
                long long left = deadline - NowMs();
                timeout = left > 0 ? static_cast<int>(left < 1000000 ? left : 1000000) : 0;
            }
            struct pollfd poller {};
            poller.fd = node->fd;
            poller.events = request.isRead ? POLLIN : POLLOUT;
            int ready = ::poll(&poller, 1, timeout);
            if (ready < 0 && errno != EINTR) {
                SetLastErrorFromErrno(errno);
                return kWaitFailed;
            }
            if (ready > 0) {
                Attempt();
                if (request.finished) return kWaitObject0;
                if (request.gone) {
                    SetLastError(kErrorAccessDenied);
                    return kWaitTimeout;
                }
            }
            if (milliseconds != kInfinite && NowMs() >= deadline) {
                SetLastError(kErrorIoPending);
                return kWaitTimeout;
            }
        }
    }

    bool GetOverlappedResult(Overlapped*, std::uint32_t* transferred, bool wait) override {
        if (!request.active) {
            SetLastError(kErrorOperationAborted);
            return false;
        }
        if (!request.finished && wait && !request.gone) Wait(kInfinite);
        if (!request.finished) {
            SetLastError(request.gone ? kErrorAccessDenied : kErrorIoIncomplete);
            return false;
        }
        if (request.error != 0) {
            SetLastError(request.error);
            return false;
        }
        if (transferred != nullptr) *transferred = request.transferred;
        return true;
    }

    bool CancelIo() override {
        request.active = false;
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
        const auto* request = static_cast<const std::uint8_t*>(in);
        struct usbdevfs_ctrltransfer transfer {};
        transfer.bRequestType = kVendorInterfaceIn;
        transfer.bRequest = request[0];
        transfer.wValue = static_cast<std::uint16_t>((request[1] << 8) | request[2]);
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
    struct Request {
        bool active = false;
        bool isRead = false;
        bool finished = false;
        bool gone = false;
        std::uint32_t error = 0;
        void* buffer = nullptr;
        std::uint32_t size = 0;
        std::uint32_t transferred = 0;
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
        request.active = true;
        request.isRead = isRead;
        request.buffer = buffer;
        request.size = size;
        Attempt();
        bool synchronous = overlapped == nullptr;
        if (synchronous && !request.finished && !request.gone) Wait(kInfinite);
        if (request.gone) {
            SetLastError(kErrorAccessDenied);
            return false;
        }
        if (!request.finished) {
            SetLastError(kErrorIoPending);
            return false;
        }
        if (request.error != 0) {
            SetLastError(request.error);
            return false;
        }
        if (count != nullptr) *count = request.transferred;
        return true;
    }

    // A node whose device has gone reads as end of file and polls as hung
    // up (usblp after a disconnect, a terminal whose other side closed).
    bool HungUp() const {
        struct pollfd poller {};
        poller.fd = node->fd;
        poller.events = POLLIN;
        return ::poll(&poller, 1, 0) > 0 && (poller.revents & POLLHUP) != 0;
    }

    // One non-blocking try; a node that is not ready leaves it pending.
    void Attempt() {
        ssize_t done = request.isRead ? ::read(node->fd, request.buffer, request.size)
                                      : ::write(node->fd, request.buffer, request.size);
        if (done == 0 && request.isRead && request.size > 0 && HungUp()) {
            request.gone = true;
            return;
        }
        if (done >= 0) {
            request.finished = true;
            request.transferred = static_cast<std::uint32_t>(done);
            return;
        }
        if (errno == EAGAIN || errno == EINTR) return;
        if (DeviceGone(errno)) {
            request.gone = true;
            return;
        }
        request.finished = true;
        request.error = WindowsErrorFromErrno(errno);
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
