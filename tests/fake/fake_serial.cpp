// Placeholder: replaced by the scripted serial ports.
#include "platform/system.h"
#include "tests/fake/fake_devices.h"

namespace fake {

std::unique_ptr<plat::common::DeviceObject> OpenSerialDevice(const char*, std::uint32_t,
                                                             std::uint32_t, std::uint32_t,
                                                             std::uint32_t, bool* claimed) {
    *claimed = false;
    return nullptr;
}

std::uint32_t QueryDosDevice(const char*, char*, std::uint32_t) {
    plat::SetLastError(plat::kErrorFileNotFound);
    return 0;
}

bool DefineDosDevice(std::uint32_t, const char*, const char*) {
    return true;
}

}  // namespace fake
