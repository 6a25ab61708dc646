// Devices and files opened by path: serial ports, USB pipes, DOS device
// names, synchronous and overlapped transfers, comm state and time-outs.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileFlagWriteThrough = 0x80000000u;
constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;
constexpr std::uint32_t kFileFlagNoBuffering = 0x20000000u;

// CreateFileA without security attributes and template.
Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes);
bool CloseHandle(Handle handle);

// With overlapped null the call is synchronous. With an overlapped record
// the request is issued and completes later (WaitForSingleObject on the
// handle, then GetOverlappedResult), or is cancelled by CancelIo.
bool ReadFile(Handle handle, void* buffer, std::uint32_t toRead, std::uint32_t* read,
              Overlapped* overlapped);
bool WriteFile(Handle handle, const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               Overlapped* overlapped);

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds);
bool GetOverlappedResult(Handle handle, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait);
bool CancelIo(Handle handle);
bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned);

// Serial ports.
constexpr std::uint32_t kPurgeTxAbort = 0x1;
constexpr std::uint32_t kPurgeRxAbort = 0x2;
constexpr std::uint32_t kPurgeTxClear = 0x4;
constexpr std::uint32_t kPurgeRxClear = 0x8;
constexpr std::uint32_t kSetRts = 3;
constexpr std::uint32_t kClrRts = 4;
constexpr std::uint32_t kSetDtr = 5;
constexpr std::uint32_t kClrDtr = 6;
bool GetCommState(Handle handle, Dcb* dcb);
bool SetCommState(Handle handle, const Dcb* dcb);
bool SetCommTimeouts(Handle handle, const CommTimeouts* timeouts);
bool EscapeCommFunction(Handle handle, std::uint32_t function);
bool PurgeComm(Handle handle, std::uint32_t flags);

// DOS device names.
constexpr std::uint32_t kDddRawTargetPath = 0x1;
constexpr std::uint32_t kDddRemoveDefinition = 0x2;
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath, std::uint32_t max);
bool DefineDosDeviceA(std::uint32_t flags, const char* deviceName, const char* targetPath);

}  // namespace plat
