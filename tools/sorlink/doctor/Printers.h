// The doctor's check of every installed printer, through the registry
// calls and the library's own initialisation by name.
#pragma once

#include <string>
#include <vector>

#include "tools/sorlink/doctor/Findings.h"

namespace sorlink_tool::doctor {

// serialPorts: the library's serial port list. connect: also open each
// TCP/IP printer's connection.
void CheckInstalledPrinters(const std::vector<std::string>& serialPorts, bool connect,
                            int connectTimeout, Findings* findings);

// What the system's print spooler holds beyond the printers the library
// uses (CUPS queues of other kinds, a scheduler that does not answer).
void CheckPrintQueues(Findings* findings);

}  // namespace sorlink_tool::doctor
