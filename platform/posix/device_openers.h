// The device kinds of the POSIX backend, asked in turn by CreateFileA.
#pragma once

#include "platform/common/DeviceObject.h"

namespace plat::posix {

// USB device paths (\\?\usb#...) and their pipes: usb_device.cpp.
std::unique_ptr<common::DeviceObject> OpenUsbDevice(const char* path, std::uint32_t access,
                                                    std::uint32_t shareMode,
                                                    std::uint32_t creationDisposition,
                                                    std::uint32_t flags, bool* claimed);
// Serial ports by device path: serial_device.cpp.
std::unique_ptr<common::DeviceObject> OpenSerialDevice(const char* path, std::uint32_t access,
                                                       std::uint32_t shareMode,
                                                       std::uint32_t creationDisposition,
                                                       std::uint32_t flags, bool* claimed);

}  // namespace plat::posix
