// The fake's device kinds and DOS device names.
#pragma once

#include "platform/common/DeviceObject.h"

namespace fake {

// Scripted USB devices and their pipes: fake_usb.cpp.
std::unique_ptr<plat::common::DeviceObject> OpenUsbDevice(const char* path, std::uint32_t access,
                                                          std::uint32_t shareMode,
                                                          std::uint32_t creationDisposition,
                                                          std::uint32_t flags, bool* claimed);
// Scripted serial ports: fake_serial.cpp.
std::unique_ptr<plat::common::DeviceObject> OpenSerialDevice(const char* path, std::uint32_t access,
                                                             std::uint32_t shareMode,
                                                             std::uint32_t creationDisposition,
                                                             std::uint32_t flags, bool* claimed);

// DOS device names (fake_serial.cpp): QueryDosDeviceA and DefineDosDeviceA.
std::uint32_t QueryDosDevice(const char* deviceName, char* targetPath, std::uint32_t max);
bool DefineDosDevice(std::uint32_t flags, const char* deviceName, const char* targetPath);

}  // namespace fake
