// The thin platform layer: every platform call the communication layer and
// the bridge make, with the types and meanings they have on Windows.
// Backends: win32/ (forwards to Windows), posix/ (gives the calls their
// Windows meaning on Linux), and the scriptable fake under tests/fake/.
#pragma once

#include "platform/device.h"
#include "platform/log_file.h"
#include "platform/registry.h"
#include "platform/setupdi.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/types.h"
