// What the doctor asks of the operating system, beside the library's own
// lists: who it checks for, the registry's source, device nodes and their
// permissions, USB devices the library cannot see, and the default log.
// One implementation per system (SystemLinux.cpp, SystemWindows.cpp).
#pragma once

#include <string>
#include <vector>

#include "tools/sorlink/doctor/Findings.h"

namespace sorlink_tool::doctor {

// Chooses whom the checks are for: this process when userName is empty.
// False with *error when there is no such user.
bool SelectUser(const std::string& userName, std::string* error);
// "pos (uid 1000)"
std::string DescribeUser();

void CheckUser(Findings* findings);
void CheckRegistryFile(Findings* findings);
// portName as the library lists it (COM1, /dev/ttyUSB0).
void CheckSerialPort(const std::string& portName, Findings* findings);
// libraryDevices: the library's USB device list, as VID:PID:SERIAL.
void CheckUsbDevices(const std::vector<std::string>& libraryDevices, Findings* findings);
void CheckLogFolder(Findings* findings);

}  // namespace sorlink_tool::doctor
