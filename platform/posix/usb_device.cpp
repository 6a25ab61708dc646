// Placeholder: replaced by the usb device implementation.
#include "platform/posix/device_openers.h"

namespace plat::posix {

std::unique_ptr<common::DeviceObject> OpenUsbDevice(const char*, std::uint32_t, std::uint32_t,
                                                    std::uint32_t, std::uint32_t, bool* claimed) {
    *claimed = false;
    return nullptr;
}

}  // namespace plat::posix
