// Serial ports on Linux: a terminal device opened for exclusive use, whose
// termios settings carry the DCB (serial_termios.cpp) and whose reads and
// writes honour the COMMTIMEOUTS with the meanings they have on Windows.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/posix/device_openers.h"
#include "platform/posix/errors.h"
#include "platform/posix/serial_termios.h"
#include "platform/system.h"

namespace plat::posix {

namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// EscapeCommFunction codes besides DTR and RTS.
constexpr std::uint32_t kSetXoff = 1;
constexpr std::uint32_t kSetXon = 2;
constexpr std::uint32_t kSetBreak = 8;
constexpr std::uint32_t kClrBreak = 9;

std::int64_t NowMs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left until deadline (-1: no deadline), never below 0.
int Remaining(std::int64_t deadline) {
    if (deadline < 0) return -1;
    std::int64_t left = deadline - NowMs();
    if (left <= 0) return 0;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

// Waits for the descriptor to become ready; 1 ready, 0 timed out, -1 error.
int WaitFor(int fd, short events, int timeoutMs) {
    struct pollfd entry {};
    entry.fd = fd;
    entry.events = events;
    for (;;) {
        int ready = ::poll(&entry, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready;
        // A hung-up line (the far end of a pseudo-terminal closed) never
        // becomes readable again: report it instead of waking for ever.
        bool hungUp = (entry.revents & POLLHUP) != 0 && (entry.revents & events) == 0;
        if (hungUp || (entry.revents & (POLLERR | POLLNVAL)) != 0) {
            errno = EIO;
            return -1;
        }
        return 1;
    }
}

// The UUCP lock file that serial programs (minicom, cu, ModemManager)
// take for a line: LCK..ttyS0 in /var/lock, holding the owner's process
// ID as ten digits. A lock whose owner has died is stale and is removed.
class LineLock {
public:
    LineLock() = default;
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;
    ~LineLock() { Release(); }

    // False when a living process holds the line's lock. A system
    // without a writable lock folder has no one to agree with: the line
    // is taken without a lock file.
    bool Take(const char* devicePath) {
        // The lock is named after the device itself, not after a link to
        // it (/dev/serial/by-id/...), as the other programs name it.
        char* real = ::realpath(devicePath, nullptr);
        std::string name = real != nullptr ? real : devicePath;
        std::free(real);
        if (name.compare(0, 5, "/dev/") == 0) name.erase(0, 5);
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        const char* folder = std::getenv("SORLINK_LOCK_DIR");
        std::string candidate =
            std::string(folder != nullptr && folder[0] != '\0' ? folder : "/var/lock") + "/LCK.." +
            name;
        for (int attempt = 0; attempt < 3; ++attempt) {
            int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                char text[16];
                int length =
                    std::snprintf(text, sizeof(text), "%10d\n", static_cast<int>(getpid()));
                bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
                ::close(fd);
                if (!written) {
                    ::unlink(candidate.c_str());
                    return true;
                }
                path = candidate;
                return true;
            }
            if (errno != EEXIST) return true;
            long owner = Owner(candidate);
            // A lock naming this very process is left from an earlier one
            // that had the same ID (a restarted container): while this
            // process holds the line, flock has already refused the open.
            if (owner > 0 && owner != static_cast<long>(getpid()) &&
                (::kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM)) {
                return false;
            }
            // A file being written has no owner yet: wait for its writer.
            if (owner == 0 && attempt == 0) {
                struct timespec pause {
                    0, 20 * 1000 * 1000
                };
                nanosleep(&pause, nullptr);
                continue;
            }
            // A stale lock that may not be removed (a folder of another
            // owner) holds no one's line: take it without a lock file.
            if (::unlink(candidate.c_str()) != 0 && errno != ENOENT) return true;
        }
        return false;
    }

    void Release() {
        if (path.empty()) return;
        if (Owner(path) == static_cast<long>(getpid())) ::unlink(path.c_str());
        path.clear();
    }

private:
    // The process ID a lock file names, as text or (the old binary form) as
    // a native int; 0 when unreadable or out of the range of process IDs.
    static long Owner(const std::string& file) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return 0;
        char text[32] = {};
        ssize_t n = ::read(fd, text, sizeof(text) - 1);
        ::close(fd);
        if (n <= 0) return 0;
        // A process ID is below 2^22, so a binary one always has a zero
        // byte; text has none ("123\n" is text, "90\0\0" is 12345).
        long owner = 0;
        if (n == static_cast<ssize_t>(sizeof(int)) &&
            std::memchr(text, '\0', sizeof(int)) != nullptr) {
            int binary = 0;
            std::memcpy(&binary, text, sizeof(binary));
            owner = binary;
        } else {
            owner = std::strtol(text, nullptr, 10);
        }
        // kill(-1, 0) would ask after every process, not one.
        return owner > 0 && owner <= 0x7FFFFFFF ? owner : 0;
    }

    std::string path;
};

// Whether another process holds the device open, found as fuser(1) finds
// it: a descriptor under /proc/PID/fd that names the same character
// device. Only the processes whose descriptors may be read are seen (all
// of them for root). A descriptor is stat'ed only when its link names a
// file under /dev: following every link would reach into the files of
// other processes, and one on a network file system whose server is gone
// would hang the open. The walk ends after kScanBudgetMs (some
// milliseconds per hundred processes; a machine with thousands of busy
// processes would otherwise take seconds an open), and what it has not
// reached by then counts as not holding the line.
//
// Pseudo-terminals are left out: their users (the virtual printer, tests)
// open and close them many times over.
bool OpenedByAnotherProcess(int fd) {
    constexpr unsigned kFirstPtySlaveMajor = 136;  // UNIX98_PTY_SLAVE_MAJOR
    constexpr unsigned kPtySlaveMajors = 8;
    constexpr std::int64_t kScanBudgetMs = 250;
    struct stat own {};
    if (::fstat(fd, &own) != 0 || !S_ISCHR(own.st_mode)) return false;
    unsigned kind = major(own.st_rdev);
    if (kind >= kFirstPtySlaveMajor && kind < kFirstPtySlaveMajor + kPtySlaveMajors) return false;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return false;
    std::string self = std::to_string(getpid());
    std::int64_t deadline = NowMs() + kScanBudgetMs;
    bool found = false;
    while (!found && NowMs() < deadline) {
        struct dirent* process = readdir(processes);
        if (process == nullptr) break;
        if (process->d_name[0] < '1' || process->d_name[0] > '9' || self == process->d_name) {
            continue;
        }
        std::string folder = std::string("/proc/") + process->d_name + "/fd";
        DIR* descriptors = opendir(folder.c_str());
        if (descriptors == nullptr) continue;
        int folderFd = dirfd(descriptors);
        while (struct dirent* entry = readdir(descriptors)) {
            if (entry->d_name[0] == '.') continue;
            char target[16] = {};
            ssize_t length = ::readlinkat(folderFd, entry->d_name, target, sizeof(target) - 1);
            if (length < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
            struct stat info {};
            if (::fstatat(folderFd, entry->d_name, &info, 0) == 0 && S_ISCHR(info.st_mode) &&
                info.st_rdev == own.st_rdev) {
                found = true;
                break;
            }
        }
        closedir(descriptors);
    }
    closedir(processes);
    return found;
}

class SerialDevice : public common::DeviceObject {
public:
    SerialDevice(int descriptor, std::unique_ptr<LineLock> line)
        : fd(descriptor), lock(std::move(line)) {
        // What a Windows driver reports for a port nobody has configured.
        shadow.DCBlength = kDcbLength;
        shadow.fBinary = 1;
        shadow.fDtrControl = kDtrControlEnable;
        shadow.fRtsControl = kRtsControlEnable;
        shadow.XonLim = 2048;
        shadow.XoffLim = 512;
    }
    ~SerialDevice() override {
        if (fd >= 0) ::close(fd);
    }

    bool Close() override {
        ::ioctl(fd, TIOCNXCL);
        int result = ::close(fd);
        fd = -1;
        lock->Release();
        // Linux releases the descriptor even when close reports an error.
        if (result != 0 && errno == EBADF) return Fail(errno);
        return true;
    }

    bool Read(void* buffer, std::uint32_t toRead, std::uint32_t* read,
              Overlapped* overlapped) override;
    bool Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               Overlapped* overlapped) override;
    bool GetCommState(Dcb* dcb) override;
    bool SetCommState(const Dcb* dcb) override;
    bool SetCommTimeouts(const CommTimeouts* values) override {
        timeouts = *values;
        return true;
    }
    bool EscapeCommFunction(std::uint32_t function) override;
    bool PurgeComm(std::uint32_t flags) override;

private:
    bool Fail(int error) {
        SetLastErrorFromErrno(error);
        return false;
    }
    // Raises or lowers modem lines; pseudo-terminals have none, which is
    // only an error when the caller asks for a line explicitly.
    bool ModemLines(int lines, bool raise) {
        return ::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines) == 0;
    }

    int fd;
    std::unique_ptr<LineLock> lock;
    Dcb shadow{};  // the DCB fields termios has no place for
    bool linesSet = false;
    CommTimeouts timeouts{};
};

bool SerialDevice::SetCommState(const Dcb* dcb) {
    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0) return Fail(errno);
    if (!DcbToTermios(*dcb, &settings)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    // Linux's tcsetattr reports success when any of the requested changes
    // took effect (tcsetattr(3)): a driver that keeps its own speed, stop
    // bits or flow control would otherwise pass for one that applied them,
    // where Windows' SetCommState fails. The line is therefore always read
    // back. Only the byte framing (size and parity) may differ: a driver may
    // keep the framing it can give (a pseudo-terminal always frames 8 bits
    // without parity, many USB adapters have no 7-bit mode), and the same
    // request must not fail or succeed by what the line held before.
    int setResult = ::tcsetattr(fd, TCSANOW, &settings);
    int error = setResult != 0 ? errno : EINVAL;
    struct termios line {};
    if (::tcgetattr(fd, &line) != 0 || !CarriesAllButFraming(settings, line)) {
        return Fail(error != 0 ? error : EINVAL);
    }

    // As Windows' serial driver does, a line is set by its control mode
    // only when that mode changes (or first after open): a state written
    // again with the same mode keeps what EscapeCommFunction made of it.
    bool dtrChanged = !linesSet || shadow.fDtrControl != dcb->fDtrControl;
    bool rtsChanged = !linesSet || shadow.fRtsControl != dcb->fRtsControl;
    shadow = *dcb;
    shadow.DCBlength = kDcbLength;
    linesSet = true;
    if (dtrChanged && dcb->fDtrControl != kDtrControlHandshake) {
        ModemLines(TIOCM_DTR, dcb->fDtrControl == kDtrControlEnable);
    }
    if (rtsChanged && dcb->fRtsControl != kRtsControlHandshake) {
        ModemLines(TIOCM_RTS, dcb->fRtsControl == kRtsControlEnable);
    }
    return true;
}

bool SerialDevice::GetCommState(Dcb* dcb) {
    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0) return Fail(errno);
    *dcb = shadow;
    TermiosToDcb(settings, dcb);
    return true;
}

// The COMMTIMEOUTS rules of a synchronous read:
// - interval MAXDWORD with both totals 0: return at once with what is there;
// - interval and multiplier MAXDWORD with a constant below MAXDWORD: return
//   at once with what is there, else wait up to the constant for a byte;
// - otherwise the total (multiplier x bytes + constant, none when both are
//   0) bounds the whole read and the interval (none when 0) bounds the gap
//   after each byte; with neither the read waits for every byte.
bool SerialDevice::Read(void* buffer, std::uint32_t toRead, std::uint32_t* read,
                        Overlapped* overlapped) {
    *read = 0;
    if (overlapped != nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (toRead == 0) return true;
    const CommTimeouts t = timeouts;
    bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    bool firstByteEnds = t.ReadIntervalTimeout == kMaxDword &&
                         t.ReadTotalTimeoutMultiplier == kMaxDword &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
    std::int64_t start = NowMs();
    std::int64_t totalDeadline = -1;
    std::uint32_t interval = 0;
    if (firstByteEnds) {
        totalDeadline = start + t.ReadTotalTimeoutConstant;
    } else if (!returnAtOnce) {
        std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * toRead +
                              t.ReadTotalTimeoutConstant;
        if (total != 0) totalDeadline = start + static_cast<std::int64_t>(total);
        interval = t.ReadIntervalTimeout == kMaxDword ? 0 : t.ReadIntervalTimeout;
    }

    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    std::int64_t lastByte = -1;
    for (;;) {
        ssize_t n = ::read(fd, bytes + *read, toRead - *read);
        if (n > 0) {
            *read += static_cast<std::uint32_t>(n);
            lastByte = NowMs();
            if (*read == toRead || firstByteEnds) return true;
            continue;
        }
        // Without VMIN a terminal answers 0 rather than EAGAIN when nothing
        // is queued; a line that has gone is told by poll below.
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EIO && *read > 0) return true;
        if (n < 0 && errno != EAGAIN) return Fail(errno);
        if (returnAtOnce) {
            // A hung-up line (an unplugged adapter) also reads as 0 bytes:
            // only poll tells it from a quiet one.
            if (*read == 0 && WaitFor(fd, POLLIN, 0) < 0) return Fail(errno);
            return true;
        }

        int wait = Remaining(totalDeadline);
        if (interval != 0 && lastByte >= 0) {
            int gap = Remaining(lastByte + interval);
            if (wait < 0 || gap < wait) wait = gap;
        }
        if (wait == 0) return true;
        int ready = WaitFor(fd, POLLIN, wait);
        if (ready < 0) return *read > 0 ? true : Fail(errno);
        if (ready == 0) {
            // Re-check the clocks: poll may wake early, never late.
            if (Remaining(totalDeadline) == 0) return true;
            if (interval != 0 && lastByte >= 0 && Remaining(lastByte + interval) == 0) return true;
        }
    }
}

// A write is bounded by the total write time-out (multiplier x bytes +
// constant; none when both are 0). What was sent when it expires is
// reported as a successful short write, as Windows does.
bool SerialDevice::Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
                         Overlapped* overlapped) {
    *written = 0;
    if (overlapped != nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::uint64_t total =
        static_cast<std::uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * toWrite +
        timeouts.WriteTotalTimeoutConstant;
    std::int64_t deadline = total != 0 ? NowMs() + static_cast<std::int64_t>(total) : -1;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    while (*written < toWrite) {
        ssize_t n = ::write(fd, bytes + *written, toWrite - *written);
        if (n > 0) {
            *written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return Fail(errno);
        int wait = Remaining(deadline);
        if (wait == 0) return true;
        int ready = WaitFor(fd, POLLOUT, wait);
        if (ready < 0) return Fail(errno);
        if (ready == 0 && Remaining(deadline) == 0) return true;
    }
    return true;
}

bool SerialDevice::EscapeCommFunction(std::uint32_t function) {
    bool done = false;
    switch (function) {
        case kSetDtr:
        case kClrDtr:
            done = ModemLines(TIOCM_DTR, function == kSetDtr);
            break;
        case kSetRts:
        case kClrRts:
            done = ModemLines(TIOCM_RTS, function == kSetRts);
            break;
        case kSetXoff:
        case kSetXon:
            done = ::tcflow(fd, function == kSetXoff ? TCOOFF : TCOON) == 0;
            break;
        case kSetBreak:
        case kClrBreak:
            done = ::ioctl(fd, function == kSetBreak ? TIOCSBRK : TIOCCBRK) == 0;
            break;
        default:
            SetLastError(kErrorInvalidParameter);
            return false;
    }
    return done ? true : Fail(errno);
}

// Writes and reads are synchronous, so there is never a request to abort:
// only the queues are cleared.
bool SerialDevice::PurgeComm(std::uint32_t flags) {
    bool input = (flags & kPurgeRxClear) != 0;
    bool output = (flags & kPurgeTxClear) != 0;
    if (!input && !output) return true;
    int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(fd, queue) != 0) return Fail(errno);
    return true;
}

// A port in use is refused as Windows refuses it.
void SetOpenError(int error) {
    if (error == EWOULDBLOCK || error == EBUSY) {
        SetLastError(kErrorAccessDenied);
    } else {
        SetLastErrorFromErrno(error);
    }
}

}  // namespace

// Serial ports are reached by their device path ("/dev/ttyS0",
// "/dev/pts/3"). The port is opened for exclusive use, as Windows opens it:
// TIOCEXCL keeps other openers out, an exclusive lock keeps out those
// TIOCEXCL lets through, and a line another program already holds (its UUCP
// lock file, or a descriptor of it in another process) is refused.
std::unique_ptr<common::DeviceObject> OpenSerialDevice(const char* path, std::uint32_t,
                                                       std::uint32_t, std::uint32_t, std::uint32_t,
                                                       bool* claimed) {
    *claimed = path[0] == '/';
    if (!*claimed) return nullptr;
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetOpenError(errno);
        return nullptr;
    }
    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0) {
        ::close(fd);
        SetLastError(kErrorFileNotFound);  // not a terminal: not a serial port
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        int error = errno;
        ::close(fd);
        SetOpenError(error);
        return nullptr;
    }
    // TIOCEXCL and the lock keep out those who come later; a program that
    // opened the line first is found by its lock file or its descriptor.
    auto lock = std::make_unique<LineLock>();
    if (!lock->Take(path) || OpenedByAnotherProcess(fd)) {
        lock->Release();
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        SetOpenError(EBUSY);
        return nullptr;
    }
    return std::make_unique<SerialDevice>(fd, std::move(lock));
}

}  // namespace plat::posix
