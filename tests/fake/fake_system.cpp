// The fake's process-level calls, fault table and clock.
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "platform/system.h"
#include "tests/fake/fake_platform.h"

namespace fake {
namespace {

struct Fault {
    std::uint32_t error;
    int count;
    int skip;
};

struct State {
    std::mutex lock;
    std::map<std::string, Fault> faults;
    std::map<std::string, int> calls;
    bool fixedClock = false;
    plat::SystemTime clock{};
    std::string debugOutput;
    std::uint32_t platformId = plat::kVerPlatformWin32Nt;
    std::uint32_t major = 6;
    std::uint32_t minor = 1;
};

State& Get() {
    static State* state = new State;
    return *state;
}

thread_local std::uint32_t lastError = 0;

}  // namespace

void ResetRegistry();  // fake_registry.cpp
void ResetSockets();   // fake_socket.cpp
namespace usb {
void Reset();  // fake_usb.cpp
}
void ResetSerial();   // fake_serial.cpp
void ResetLogFile();  // fake_log_file.cpp

void Reset() {
    State& s = Get();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.faults.clear();
        s.calls.clear();
        s.fixedClock = false;
        s.debugOutput.clear();
        s.platformId = plat::kVerPlatformWin32Nt;
        s.major = 6;
        s.minor = 1;
    }
    ResetRegistry();
    ResetSockets();
    usb::Reset();
    ResetSerial();
    ResetLogFile();
    lastError = 0;
}

void FailCall(const std::string& call, std::uint32_t error, int count, int skip) {
    std::lock_guard<std::mutex> guard(Get().lock);
    Get().faults[call] = Fault{error, count, skip};
}

bool ShouldFail(const char* call, std::uint32_t* error) {
    State& s = Get();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.calls[call];
    auto it = s.faults.find(call);
    if (it == s.faults.end() || it->second.count <= 0) return false;
    if (it->second.skip > 0) {
        --it->second.skip;
        return false;
    }
    --it->second.count;
    if (error != nullptr) *error = it->second.error;
    lastError = it->second.error;
    return true;
}

int CallCount(const std::string& call) {
    std::lock_guard<std::mutex> guard(Get().lock);
    auto it = Get().calls.find(call);
    return it == Get().calls.end() ? 0 : it->second;
}

void CountCall(const char* call) {
    std::lock_guard<std::mutex> guard(Get().lock);
    ++Get().calls[call];
}

void SetLocalTime(const plat::SystemTime& time) {
    std::lock_guard<std::mutex> guard(Get().lock);
    Get().fixedClock = true;
    Get().clock = time;
}

void UseRealClock() {
    std::lock_guard<std::mutex> guard(Get().lock);
    Get().fixedClock = false;
}

std::string DebugOutput() {
    std::lock_guard<std::mutex> guard(Get().lock);
    return Get().debugOutput;
}

void SetVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
    std::lock_guard<std::mutex> guard(Get().lock);
    Get().platformId = platformId;
    Get().major = major;
    Get().minor = minor;
}

}  // namespace fake

namespace plat {

void GetLocalTime(SystemTime* time) {
    fake::State& s = fake::Get();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.fixedClock) {
            *time = s.clock;
            return;
        }
    }
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    *time = SystemTime{static_cast<std::uint16_t>(local.tm_year + 1900),
                       static_cast<std::uint16_t>(local.tm_mon + 1),
                       static_cast<std::uint16_t>(local.tm_wday),
                       static_cast<std::uint16_t>(local.tm_mday),
                       static_cast<std::uint16_t>(local.tm_hour),
                       static_cast<std::uint16_t>(local.tm_min),
                       static_cast<std::uint16_t>(local.tm_sec),
                       static_cast<std::uint16_t>(ms.count())};
}

void OutputDebugStringA(const char* text) {
    if (text == nullptr) return;
    std::lock_guard<std::mutex> guard(fake::Get().lock);
    fake::Get().debugOutput += text;
}

std::uint32_t GetLastError() {
    return fake::lastError;
}
void SetLastError(std::uint32_t error) {
    fake::lastError = error;
}

bool GetVersionExA(OsVersionInfoEx* info) {
    std::uint32_t error = 0;
    const char* call = (info != nullptr && info->dwOSVersionInfoSize == 148)
                           ? "GetVersionExA(basic)"
                           : "GetVersionExA";
    if (fake::ShouldFail(call, &error)) return false;
    if (info == nullptr) return false;
    std::uint32_t size = info->dwOSVersionInfoSize;
    std::memset(info, 0, sizeof *info);
    info->dwOSVersionInfoSize = size;
    std::lock_guard<std::mutex> guard(fake::Get().lock);
    info->dwPlatformId = fake::Get().platformId;
    info->dwMajorVersion = fake::Get().major;
    info->dwMinorVersion = fake::Get().minor;
    return true;
}

Module LoadLibraryA(const char*) {
    SetLastError(kErrorFileNotFound);
    return nullptr;
}
void* GetProcAddress(Module, const char*) {
    return nullptr;
}
bool FreeLibrary(Module) {
    return false;
}
bool GetOwnModuleFolder(char*, std::uint32_t) {
    return false;
}

std::uint32_t GetFileAttributesA(const char*) {
    return kInvalidFileAttributes;
}
bool GetOwnFileVersion(std::uint16_t parts[4]) {
    parts[0] = 1;
    parts[1] = 0;
    parts[2] = 0;
    parts[3] = 0;
    return true;
}

}  // namespace plat
