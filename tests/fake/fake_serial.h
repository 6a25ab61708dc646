// Control of the fake's scripted serial ports and DOS device names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace fake {

// Removes every scripted port and DOS device name (fake::Reset does too).
void ResetSerial();

// A serial device at devicePath (the path CreateFileA receives, or the
// target of a DOS device name that is opened as "\\.\<name>"). Its line
// state starts as a driver's would: 9600 8N1, DTR and RTS enabled.
void AddSerialPort(const std::string& devicePath);

// How many bytes each next WriteFile call accepts, in order (capped at the
// count asked); once the list is used up every call accepts all it is given.
void SetSerialWriteAccepts(const std::string& devicePath, std::vector<std::uint32_t> accepts);
// Bytes the device will deliver: each ReadFile takes at most one chunk.
void QueueSerialRead(const std::string& devicePath, const std::string& chunk);

struct SerialRecord {
    bool open = false;
    int opens = 0;
    std::string written;                   // every byte accepted, in order
    std::vector<std::uint32_t> writeAsks;  // count asked by each WriteFile
    std::vector<std::uint32_t> readAsks;   // count asked by each ReadFile
    std::vector<std::uint32_t> purges;     // PurgeComm flags
    std::vector<std::uint32_t> escapes;    // EscapeCommFunction functions
    plat::Dcb state{};
    plat::CommTimeouts timeouts{};
    std::uint32_t openFlags = 0;
    std::uint32_t openShareMode = 0;
};
SerialRecord SerialPort(const std::string& devicePath);

// DOS device names: the target of a name, "" when it is not defined.
std::string DosDeviceTarget(const std::string& name);
void SetDosDevice(const std::string& name, const std::string& target);

}  // namespace fake
