// Placeholder: replaced by the scripted USB devices.
#include "tests/fake/fake_devices.h"

namespace fake {

std::unique_ptr<plat::common::DeviceObject> OpenUsbDevice(const char*, std::uint32_t, std::uint32_t,
                                                          std::uint32_t, std::uint32_t,
                                                          bool* claimed) {
    *claimed = false;
    return nullptr;
}

}  // namespace fake
