// The print queues of CUPS as installed printers: each queue whose device
// URI names a TCP/IP, USB or serial printer appears in the spooler's keys
// the transports read, as a printer installed on Windows would.
#pragma once

#include <string>
#include <vector>

#include "platform/common/RegStore.h"

namespace plat::posix {

struct CupsQueue {
    std::string name;
    std::string deviceUri;
};

struct CupsQueueList {
    bool schedulerExpected = false;  // a socket or server is configured
    bool libraryLoaded = false;      // libcups.so.2 was found
    int lastError = 0;               // cupsLastError() after the query (IPP status)
    bool timedOut = false;           // the scheduler did not answer in time
    std::vector<CupsQueue> queues;
};

// The scheduler's queues (the one $CUPS_SERVER names, else the system's),
// asked through the CUPS client library loaded at run time; empty when the
// library or the scheduler is absent.
CupsQueueList CupsQueues();

// What a device URI names.
struct CupsDevice {
    enum Kind { kOther, kTcp, kUsb, kSerial } kind = kOther;
    std::string host;  // socket://HOST[:PORT]
    int port = 9100;
    bool hostIsAddress = false;  // dotted IPv4, which the library takes
    std::string serial;          // usb://...?serial=S, blanks as underscores
    std::string devicePath;      // serial:/dev/ttyS0?baud=N
    int baud = 0;                // 0: not given
};
CupsDevice ParseDeviceUri(const std::string& uri);

// False for a queue name the printer lists cannot carry ("|" or "\\" in it):
// such a queue is left out.
bool UsableQueueName(const std::string& name);

// Adds each queue to the store's Printers key, unless a printer of that
// name is already there (the registry file wins), with the keys its kind
// needs: a Standard TCP/IP port, a PnPData key naming the present USB
// device with that serial number, or a serial device map entry.
void AddCupsQueues(reg::Store& store);

}  // namespace plat::posix
