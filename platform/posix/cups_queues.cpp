// CUPS queues in the registry view. The client library is loaded at run
// time, so the library runs on machines without CUPS; a queue reaches a
// transport only through the keys a Windows spooler would hold for it.
#include "platform/posix/cups_queues.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <type_traits>

#include "platform/common/LibraryObject.h"
#include "platform/registry.h"

namespace plat::posix {

namespace {

const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kTcpPortsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const char kUsbEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";
const char kSerialMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char kRoot[] = "HKEY_LOCAL_MACHINE";

// The stable C interface of libcups 2 (cups/cups.h), declared here because
// the library is only loaded, never linked.
struct CupsOption {
    char* name;
    char* value;
};
struct CupsDest {
    char* name;
    char* instance;
    int isDefault;
    int numOptions;
    CupsOption* options;
};
// The connection (http_t) stays opaque; encryption is an enum, an int.
using TimeoutFn = int (*)(void* http, void* data);
using ConnectFn = void* (*)(const char* host, int port, void* addresses, int family, int encryption,
                            int blocking, int msec, int* cancel);
using SetTimeoutFn = void (*)(void* http, double seconds, TimeoutFn callback, void* data);
using CloseFn = void (*)(void* http);
using ServerFn = const char* (*)();
using IntFn = int (*)();
using GetDestsFn = int (*)(void* http, CupsDest**);
using FreeDestsFn = void (*)(int, CupsDest*);
using GetOptionFn = const char* (*)(const char*, int, CupsOption*);

struct CupsLibrary {
    CupsLibrary();
    ~CupsLibrary() {
        if (handle != nullptr) dlclose(handle);
    }
    CupsLibrary(const CupsLibrary&) = delete;
    CupsLibrary& operator=(const CupsLibrary&) = delete;

    void* handle = nullptr;
    bool loaded = false;
    ConnectFn connect = nullptr;
    SetTimeoutFn setTimeout = nullptr;
    CloseFn close = nullptr;
    ServerFn server = nullptr;
    IntFn port = nullptr;
    IntFn encryption = nullptr;
    GetDestsFn getDests = nullptr;
    FreeDestsFn freeDests = nullptr;
    GetOptionFn getOption = nullptr;
    IntFn lastError = nullptr;
};

// A scheduler that accepts but does not answer (stopped, hung, a server
// across a dead link) would hold a registry read for minutes at libcups's
// own time-outs: the whole question gets this long, its connection less.
constexpr int kConnectMs = 2000;
constexpr auto kAnswerTime = std::chrono::milliseconds(2000);
constexpr double kWaitStepSeconds = 0.25;

// Not RTLD_DEEPBIND, though an application's exported function of a name
// libcups uses then stands in for libcups's own: with it libcups frees
// through the C library what an allocator the application brings (linked
// in or preloaded, as jemalloc or valgrind are) handed out, and aborts.
// Opened with RTLD_NODELETE: libcups keeps per-thread state that must
// outlive any call into it, so the close when the library is unloaded only
// balances this open and never unloads libcups.
CupsLibrary::CupsLibrary() {
    handle = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) return;
    auto bind = [this](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        return function != nullptr;
    };
    loaded = bind(connect, "httpConnect2") && bind(setTimeout, "httpSetTimeout") &&
             bind(close, "httpClose") && bind(server, "cupsServer") && bind(port, "ippPort") &&
             bind(encryption, "cupsEncryption") && bind(getDests, "cupsGetDests2") &&
             bind(freeDests, "cupsFreeDests") && bind(getOption, "cupsGetOption") &&
             bind(lastError, "cupsLastError");
}

// Made at the first question to the scheduler and freed when the library
// is unloaded, so that loading it again and again does not grow a process.
common::LibraryObject<CupsLibrary> cupsLibrary;

const CupsLibrary& Library() {
    return cupsLibrary.Get();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Without a configured server or the scheduler's socket nobody answers:
// the library is then not even loaded, which keeps a machine without CUPS
// from paying for a connection attempt at every registry read.
bool SchedulerExpected(std::string* server) {
    const char* configured = std::getenv("CUPS_SERVER");
    *server = configured != nullptr ? configured : "";
    if (!server->empty()) return (*server)[0] != '/' || Exists(*server);
    const char* home = std::getenv("HOME");
    return Exists("/run/cups/cups.sock") || Exists("/var/run/cups/cups.sock") ||
           Exists("/etc/cups/client.conf") ||
           (home != nullptr && Exists(std::string(home) + "/.cups/client.conf"));
}

CupsQueueList AskScheduler() {
    CupsQueueList list;
    std::string server;
    list.schedulerExpected = SchedulerExpected(&server);
    if (!list.schedulerExpected) return list;
    const CupsLibrary& cups = Library();
    list.libraryLoaded = cups.loaded;
    if (!cups.loaded) return list;
    // Each wait for the scheduler's bytes ends after a step; the callback
    // lets it go on until the whole answer's time is up.
    struct Deadline {
        std::chrono::steady_clock::time_point end;
        bool passed = false;
    } deadline{std::chrono::steady_clock::now() + kAnswerTime};
    TimeoutFn keepWaiting = [](void*, void* data) {
        auto* wait = static_cast<Deadline*>(data);
        wait->passed = wait->passed || std::chrono::steady_clock::now() >= wait->end;
        return wait->passed ? 0 : 1;
    };
    void* http = cups.connect(cups.server(), cups.port(), nullptr, 0, cups.encryption(), 1,
                              kConnectMs, nullptr);
    if (http == nullptr) {
        // A server's name that took its resolver past the answer's time
        // counts as no answer in time too (the look-up itself has no limit
        // that could be set here).
        list.lastError = cups.lastError();
        list.timedOut = std::chrono::steady_clock::now() >= deadline.end;
        return list;
    }
    cups.setTimeout(http, kWaitStepSeconds, keepWaiting, &deadline);
    CupsDest* dests = nullptr;
    int count = cups.getDests(http, &dests);
    list.lastError = cups.lastError();
    list.timedOut = deadline.passed;
    cups.close(http);
    for (int i = 0; i < count && dests != nullptr; ++i) {
        // An lpoptions instance (Kitchen/draft) is the same printer.
        if (dests[i].name == nullptr || dests[i].instance != nullptr) continue;
        const char* uri = cups.getOption("device-uri", dests[i].numOptions, dests[i].options);
        list.queues.push_back({dests[i].name, uri != nullptr ? uri : ""});
    }
    if (dests != nullptr) cups.freeDests(count, dests);
    return list;
}

// %XX escapes decoded, except %00: a zero byte would cut a key name or an
// address short at the 8-bit registry calls.
std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            text.compare(i + 1, 2, "00") != 0) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The value of one option of a URI's query: serial=..., baud=...; CUPS
// joins options with "&" (usb) or "+" (serial).
std::string QueryOption(const std::string& query, const std::string& name) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find_first_of("&+", start);
        if (end == std::string::npos) end = query.size();
        std::string option = query.substr(start, end - start);
        if (option.compare(0, name.size() + 1, name + "=") == 0) {
            return PercentDecoded(option.substr(name.size() + 1));
        }
        start = end + 1;
    }
    return "";
}

bool IsDottedIpv4(const std::string& host) {
    int parts = 0, digits = 0;
    for (char c : host) {
        if (c == '.') {
            if (digits == 0) return false;
            ++parts;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 3) {
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

bool ParsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *port = std::atoi(text.c_str());
    return *port > 0 && *port <= 65535;
}

reg::Value TextValue(const std::string& name, const std::string& text) {
    reg::Value value;
    value.name = name;
    value.type = kRegSz;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

reg::Value DwordValue(const std::string& name, std::uint32_t number) {
    reg::Value value;
    value.name = name;
    value.type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<std::uint8_t>(number >> shift));
    }
    return value;
}

std::string TextOf(const reg::Value* value) {
    if (value == nullptr || value->type != kRegSz) return "";
    std::string text(value->data.begin(), value->data.end());
    return text.substr(0, text.find('\0'));
}

// The ParentIdPrefix of the present USB device whose instance (its serial
// number) is serial; empty when no such device is present.
std::string PrefixOfUsbDevice(const reg::Store& store, const std::string& serial) {
    const reg::Key* devices = store.Find(kRoot, kUsbEnumKey);
    if (devices == nullptr) return "";
    for (std::size_t d = 0; d < devices->SubKeyCount(); ++d) {
        const reg::Key* hardware = devices->SubKeyAt(d);
        const reg::Key* instance = hardware != nullptr ? hardware->FindSubKey(serial) : nullptr;
        if (instance != nullptr) return TextOf(instance->FindValue("ParentIdPrefix"));
    }
    return "";
}

// Each adder fills the other keys first and the printer's own key last, so
// that no key pointer is held across another key's creation.
void AddTcpQueue(reg::Store& store, const CupsQueue& queue, const CupsDevice& device) {
    std::string portName = "CUPS_" + queue.name;
    reg::Key* port = store.Ensure(kRoot, kTcpPortsKey + portName);
    if (port == nullptr) return;
    // A host name stays a host name: the transport takes dotted addresses
    // only, and resolving here would put name look-ups into every read of
    // the registry.
    port->SetValue(TextValue("IpAddress", device.hostIsAddress ? device.host : ""));
    port->SetValue(TextValue("HostName", device.host));
    port->SetValue(DwordValue("PortNumber", static_cast<std::uint32_t>(device.port)));
    reg::Key* printer = store.Ensure(kRoot, kPrintersKey + queue.name);
    if (printer != nullptr) printer->SetValue(TextValue("Port", portName));
}

void AddUsbQueue(reg::Store& store, const CupsQueue& queue, const CupsDevice& device) {
    std::string prefix = PrefixOfUsbDevice(store, device.serial);
    // With no such device present, a prefix no device carries: the printer
    // is installed but, as on Windows with its device unplugged, cannot be
    // reached.
    if (prefix.empty()) prefix = "0&absent&0";
    reg::Key* printer = store.Ensure(kRoot, kPrintersKey + queue.name);
    if (printer == nullptr) return;
    printer->SetValue(TextValue("Port", "USB001"));
    reg::Key* pnp = printer->EnsureSubKey("PnPData");
    if (pnp != nullptr) {
        pnp->SetValue(TextValue("DeviceInstanceId", "USBPRINT\\CUPS\\" + prefix + "&USB001"));
    }
}

void AddSerialQueue(reg::Store& store, const CupsQueue& queue, const CupsDevice& device) {
    reg::Key* map = store.Ensure(kRoot, kSerialMapKey);
    if (map == nullptr) return;
    std::string portName = TextOf(map->FindValue(device.devicePath));
    if (portName.empty()) {
        // A device the system's map leaves out (a pseudo-terminal, a
        // converter of an unlisted kind) is a serial port because the queue
        // says so, when it is there.
        struct stat info {};
        if (stat(device.devicePath.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
            map->SetValue(TextValue(device.devicePath, device.devicePath));
        }
        portName = device.devicePath;
    }
    reg::Key* printer = store.Ensure(kRoot, kPrintersKey + queue.name);
    if (printer != nullptr) printer->SetValue(TextValue("Port", portName + ":"));
}

// The scheduler's last answer, kept while the library is loaded.
struct QueueCache {
    using Clock = std::chrono::steady_clock;
    std::mutex lock;  // guards the fields below
    CupsQueueList queues;
    std::string server;
    Clock::time_point freshUntil;
    bool asked = false;
};

common::LibraryObject<QueueCache> queueCache;

}  // namespace

CupsQueueList CupsQueues() {
    // The scheduler is asked at most once a second: a listing opens many
    // registry keys, and each open sees the whole registry. One that let
    // its time run out is asked again only after a while, so that a hung
    // scheduler costs one wait, not one for each key opened.
    QueueCache& cache = queueCache.Get();
    std::lock_guard<std::mutex> guard(cache.lock);
    const char* server = std::getenv("CUPS_SERVER");
    std::string serverNow = server != nullptr ? server : "";
    if (!cache.asked || serverNow != cache.server || QueueCache::Clock::now() >= cache.freshUntil) {
        cache.queues = AskScheduler();
        cache.server = serverNow;
        // Counted from the answer, not the question: a slow answer would
        // otherwise be stale as soon as it came.
        cache.freshUntil =
            QueueCache::Clock::now() +
            (cache.queues.timedOut ? std::chrono::seconds(30) : std::chrono::seconds(1));
        cache.asked = true;
    }
    return cache.queues;
}

bool UsableQueueName(const std::string& name) {
    // A key name holds no backslash (CUPS refuses such names anyway); "|"
    // joins the names of a printer list, where such a name would read as
    // two printers.
    return !name.empty() && name.find_first_of("\\|") == std::string::npos;
}

CupsDevice ParseDeviceUri(const std::string& uri) {
    CupsDevice device;
    std::size_t query = uri.find('?');
    std::string options = query == std::string::npos ? "" : uri.substr(query + 1);
    std::string body = uri.substr(0, query);
    if (body.compare(0, 9, "socket://") == 0) {
        std::string authority = body.substr(9, body.find('/', 9) - 9);
        std::size_t colon = authority.rfind(':');
        // [v6]:port keeps its brackets' colons.
        if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
            if (!ParsePort(authority.substr(colon + 1), &device.port)) return device;
            authority.resize(colon);
        }
        device.host = PercentDecoded(authority);
        if (device.host.empty()) return device;
        device.hostIsAddress = IsDottedIpv4(device.host);
        device.kind = CupsDevice::kTcp;
    } else if (body.compare(0, 6, "usb://") == 0) {
        device.serial = QueryOption(options, "serial");
        for (char& c : device.serial) {
            if (c == ' ') c = '_';
        }
        if (!device.serial.empty() && device.serial.find('\\') == std::string::npos) {
            device.kind = CupsDevice::kUsb;
        }
    } else if (body.compare(0, 7, "serial:") == 0) {
        device.devicePath = PercentDecoded(body.substr(7));
        std::string baud = QueryOption(options, "baud");
        if (baud.size() <= 7 && baud.find_first_not_of("0123456789") == std::string::npos) {
            device.baud = std::atoi(baud.c_str());
        }
        if (!device.devicePath.empty() && device.devicePath[0] == '/') {
            device.kind = CupsDevice::kSerial;
        }
    }
    return device;
}

void AddCupsQueues(reg::Store& store) {
    CupsQueueList list = CupsQueues();
    for (const CupsQueue& queue : list.queues) {
        CupsDevice device = ParseDeviceUri(queue.deviceUri);
        if (device.kind == CupsDevice::kOther) continue;
        if (!UsableQueueName(queue.name)) continue;
        const reg::Key* printers = store.Find(kRoot, kPrintersKey);
        if (printers != nullptr && printers->FindSubKey(queue.name) != nullptr) continue;
        switch (device.kind) {
            case CupsDevice::kTcp:
                AddTcpQueue(store, queue, device);
                break;
            case CupsDevice::kUsb:
                AddUsbQueue(store, queue, device);
                break;
            default:
                AddSerialQueue(store, queue, device);
                break;
        }
        // Where the printer came from, for the tools that explain a set-up;
        // the transports read only its port and PnPData.
        if (reg::Key* printer = store.Edit(kRoot, kPrintersKey + queue.name)) {
            printer->SetValue(TextValue("DeviceUri", queue.deviceUri));
        }
    }
}

}  // namespace plat::posix
