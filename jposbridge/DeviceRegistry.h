// Finds the state of the WinPortComm object a native method was called on.
// The Java class declares no field for it, so the bridge keeps a list of
// weak references to the objects it has seen; an object's state lives as
// long as the object does.
#pragma once

#include <jni.h>

#include <memory>

#include "jposbridge/BridgeState.h"

namespace bridge {

// The object's state, made at its first call. Null when the VM cannot give
// a reference to the object (it is out of memory). The device of an object
// the VM has collected without closeDevice is closed here, so its port and
// its hold on the layer do not stay for ever.
std::shared_ptr<DeviceState> FindDevice(JNIEnv* env, jobject object);

}  // namespace bridge
