// Registry keys the USB transport reads, all under HKEY_LOCAL_MACHINE.
#pragma once

// One sub-key per installed printer; a printer on a USB port has PnPData.
constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
// One sub-key per hardware ID, under it one per device instance.
constexpr char kUsbEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
