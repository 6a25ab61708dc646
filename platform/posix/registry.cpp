// The registry on Linux: HKEY_LOCAL_MACHINE as exported by the Windows
// registry editor, read from the file named by $SORLINK_REGISTRY (else
// /etc/sorlink/registry.reg), with the system's own serial and USB devices
// merged in. No file is an empty registry.
#include "platform/registry.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

#include "platform/common/LibraryObject.h"
#include "platform/common/RegistryCalls.h"
#include "platform/posix/cups_queues.h"
#include "platform/posix/live_keys.h"
#include "platform/posix/registry_file.h"

namespace plat {

namespace {

const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const char kTcpPortsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";

const char kUsbEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";

const char* RegistryFilePath() {
    const char* path = std::getenv("SORLINK_REGISTRY");
    if (path != nullptr && path[0] != '\0') return path;
    return "/etc/sorlink/registry.reg";
}

// The parsed file, kept until the file changes.
struct FileCache {
    std::string path;
    struct timespec modified {};
    off_t size = -1;
    ino_t inode = 0;
    std::size_t skippedLines = 0;
    std::vector<std::size_t> skippedLineNumbers;
    std::shared_ptr<const reg::Store> store;
};

// A Windows machine always has the spooler's two keys and the USB
// enumeration, even with no printer installed or plugged in; without them a
// listing or a look-up would report a key that failed to open instead of an
// empty list or a printer not found. Added once to the store that is cached.
std::shared_ptr<reg::Store> WithSystemKeys(std::shared_ptr<reg::Store> store) {
    store->Ensure("HKEY_LOCAL_MACHINE", kPrintersKey);
    store->Ensure("HKEY_LOCAL_MACHINE", kTcpPortsKey);
    store->Ensure("HKEY_LOCAL_MACHINE", kUsbEnumKey);
    return store;
}

// The file as parsed; report, when given, learns how it went.
struct GuardedFileCache {
    std::mutex lock;  // guards cache and noFile
    FileCache cache;
    // The system's keys alone, for a machine without a registry file.
    std::shared_ptr<const reg::Store> noFile;
};

common::LibraryObject<GuardedFileCache> fileCache;

std::shared_ptr<const reg::Store> ParsedFile(RegistryFileReport* report = nullptr) {
    GuardedFileCache& guarded = fileCache.Get();
    FileCache* cache = &guarded.cache;
    std::lock_guard<std::mutex> guard(guarded.lock);

    std::string path = RegistryFilePath();
    RegistryFileReport unused;
    if (report == nullptr) report = &unused;
    report->path = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (guarded.noFile == nullptr)
            guarded.noFile = WithSystemKeys(std::make_shared<reg::Store>());
        return guarded.noFile;
    }
    report->present = true;
    report->tooLarge = static_cast<std::size_t>(info.st_size) > reg::kMaxFileBytes;
    if (cache->store && cache->path == path && cache->size == info.st_size &&
        cache->inode == info.st_ino && cache->modified.tv_sec == info.st_mtim.tv_sec &&
        cache->modified.tv_nsec == info.st_mtim.tv_nsec) {
        report->skippedLines = cache->skippedLines;
        report->skippedLineNumbers = cache->skippedLineNumbers;
        return cache->store;
    }
    auto store = std::make_shared<reg::Store>();
    std::size_t skipped = 0;
    std::vector<std::size_t> skippedNumbers;
    if (!report->tooLarge) {
        // Read no more than was measured: a file that grows meanwhile is
        // read again at the next open, its size having changed.
        std::ifstream file(path, std::ios::binary);
        std::string text(static_cast<std::size_t>(info.st_size), '\0');
        file.read(&text[0], static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(file.gcount()));
        skipped = reg::ParseRegFile(text, *store, &skippedNumbers);
    }
    cache->path = path;
    cache->skippedLines = report->skippedLines = skipped;
    cache->skippedLineNumbers = report->skippedLineNumbers = skippedNumbers;
    cache->size = info.st_size;
    cache->inode = info.st_ino;
    cache->modified = info.st_mtim;
    cache->store = WithSystemKeys(store);
    return cache->store;
}

std::shared_ptr<const reg::Store> Snapshot() {
    std::shared_ptr<const reg::Store> file = ParsedFile();
    // Live keys are merged into a copy so the cached file stays as parsed;
    // the copy shares the file's keys and copies only those the merge changes.
    auto merged = std::make_shared<reg::Store>(*file);
    posix::AddSerialDeviceMap(*merged);
    posix::AddUsbEnumeration(*merged);
    // Last: a USB queue names its device by the prefix the enumeration gave.
    posix::AddCupsQueues(*merged);
    return merged;
}

}  // namespace

RegistryFileReport InspectRegistryFile() {
    RegistryFileReport report;
    ParsedFile(&report);
    return report;
}

long RegOpenKeyExA(Hkey root, const char* subKey, std::uint32_t /*options*/,
                   std::uint32_t /*samDesired*/, Hkey* result) {
    return reg::OpenKey(&Snapshot, root, subKey, result);
}
long RegCloseKey(Hkey key) {
    return reg::CloseKey(key);
}
long RegEnumKeyA(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize) {
    return reg::EnumKey(key, index, name, nameSize);
}
long RegEnumValueA(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
                   std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
    return reg::EnumValue(key, index, valueName, valueNameSize, type, data, dataSize);
}
long RegQueryValueExA(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    return reg::QueryValue(key, valueName, type, data, dataSize);
}
long RegQueryInfoKeyA(Hkey key, std::uint32_t* subKeys, std::uint32_t* values) {
    return reg::QueryInfoKey(key, subKeys, values);
}

}  // namespace plat
