// What the parts of CSvComSerial share: the registry keys, the messages
// more than one operation logs, and the readers of "|"-joined lists and of
// the serial device map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace serial_shared {

inline constexpr char kSerialCommKey[] = "Hardware\\Devicemap\\Serialcomm\\";
inline constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

inline constexpr char kNotInitialised[] = "Open failed: serial device has not been initalized\n";
inline constexpr char kNotOpen[] = "Impossibile to perform the operation: device is not open\n";
inline constexpr char kOpenKeyFailed[] = "Error opening registry key: %s \n";

// The pieces of a "|"-joined list, whole (an empty list has one empty piece).
std::vector<std::string> SplitList(const std::string& list);
bool ListContains(const std::string& list, const char* name);

// One value of the opened serial device map: its name is the device path,
// its data the port name. The registry call's status (0 when read).
long ReadDeviceMapValue(plat::Hkey key, std::uint32_t index, std::string* devicePath,
                        std::string* portName);

}  // namespace serial_shared
