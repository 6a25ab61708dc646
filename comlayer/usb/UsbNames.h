// Texts the USB transport takes apart: class identifiers written as GUID
// texts, and device-interface paths of the form
// \\?\usb#vid_0f3c&pid_0101#A1B2C3#{class GUID}.
#pragma once

#include <cstddef>

#include "platform/types.h"

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" into a GUID record; false (and
// a zero record) when the text does not have that form.
bool ParseGuidText(const char* text, plat::Guid* guid);

struct UsbPathParts {
    static constexpr std::size_t kSegmentSize = 1024;
    char hardwareId[kSegmentSize];  // vid_0f3c&pid_0101, or ...&mi_01 for one function
    char instance[kSegmentSize];    // serial number, or parent prefix & function number
    char vendorId[5];
    char productId[5];
};

// Cuts a device path. The first 8 characters are skipped unseen, as the
// platform always starts its paths with \\?\usb#; a shorter path gives
// empty parts.
void CutDevicePath(const char* path, UsbPathParts* parts);

// Function 0 of a composite device: the last character of the hardware ID
// (&mi_01 -> &mi_00) and of the instance (...&0001 -> ...&0000) become 0.
void PointAtFunctionZero(UsbPathParts* parts);

// Appends entry to list (a 1024-byte buffer holding a terminated text) when
// the whole entry fits; an entry that does not fit is left out whole.
bool AppendListEntry(char* list, std::size_t listSize, const char* entry);

bool EqualNoCase(const char* a, const char* b);
