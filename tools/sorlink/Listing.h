// The listing subcommands: ports, printers, usb, and the result-code table.
#pragma once

namespace sorlink_tool {

int RunPorts(int argc, char** argv);
int RunPrinters(int argc, char** argv);
int RunUsb(int argc, char** argv);
int RunCodes(int argc, char** argv);

}  // namespace sorlink_tool
