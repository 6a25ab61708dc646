// The native methods of com.sorvane.jpos.services.WinPortComm.
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "jposbridge/BridgeLog.h"
#include "jposbridge/BridgeState.h"
#include "jposbridge/DeviceRegistry.h"
#include "jposbridge/LayerBinding.h"
#include "jposbridge/OpenSequence.h"
#include "jposbridge/ReadWait.h"
#include "platform/system.h"

namespace {

using bridge::DeviceState;

using bridge::kLevelFailure;
using bridge::kLevelStartEnd;
using bridge::kLevelStep;
using bridge::kLevelValue;

// A Java string as the layer's 8-bit text, for the length of one call: the
// text the layer compares with the names it reads (on Windows the ANSI code
// page of the registry's and the file system's 8-bit calls, elsewhere
// UTF-8). JNI's own 8-bit form is modified UTF-8, which names nothing on
// Windows: "Caisse Reçu" would reach the registry as "Caisse ReÃ§u".
class JavaText {
public:
    JavaText(JNIEnv* env, jstring text) {
        if (text == nullptr) return;
        jsize length = env->GetStringLength(text);
        // Null with an OutOfMemoryError pending, which Java sees when the
        // method returns.
        const jchar* chars = env->GetStringChars(text, nullptr);
        if (chars == nullptr) return;
        static_assert(sizeof(jchar) == sizeof(std::uint16_t), "jchar is a UTF-16 unit");
        converted = plat::TextFromUtf16(reinterpret_cast<const std::uint16_t*>(chars),
                                        static_cast<std::size_t>(length), &ansi);
        outsideCodePage = !converted;
        env->ReleaseStringChars(text, chars);
    }
    JavaText(const JavaText&) = delete;
    JavaText& operator=(const JavaText&) = delete;
    // Null when Java passed null, the VM could not provide the text, or the
    // text has no 8-bit form.
    const char* Get() const { return converted ? ansi.c_str() : nullptr; }
    bool OutsideCodePage() const { return outsideCodePage; }

private:
    std::string ansi;
    bool converted = false;
    bool outsideCodePage = false;
};

// The first argument, by its Java name, whose text has no 8-bit form.
const char* TextOutsideCodePage(
    std::initializer_list<std::pair<const char*, const JavaText*>> texts) {
    for (const auto& text : texts) {
        if (text.second->OutsideCodePage()) return text.first;
    }
    return nullptr;
}

// Seconds from Java to the layer's milliseconds, saturated so that a huge
// value cannot overflow into a short time-out. A negative value becomes 0,
// which the layer either refuses or reads as "no wait", rather than the
// weeks-long wait its unsigned reading of a negative count would give.
int SecondsToMs(jint seconds) {
    std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000;
    return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(ms, 0), INT32_MAX));
}

}  // namespace

extern "C" {

// Every method finds its object's state first (before any other JNI call,
// which a pending OutOfMemoryError would forbid) and then holds the
// object's lock: calls on one object take turns, calls on different
// objects meet only inside the layer, one layer call at a time.

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_openDevice(
    JNIEnv* env, jobject self, jstring deviceBus, jstring portName, jint baudRate,
    jboolean logEnabled, jint logLevel) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return -1;
    JavaText bus(env, deviceBus);
    JavaText port(env, portName);
    bridge::OpenRequest request{};
    request.method = bridge::kOpenDevice;
    request.deviceBus = bus.Get();
    request.portName = port.Get();
    request.baudRate = baudRate;
    request.textOutsideCodePage = TextOutsideCodePage({{"deviceBus", &bus}, {"portName", &port}});
    request.logEnabled = logEnabled != JNI_FALSE;
    request.logLevel = logLevel;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    return bridge::OpenDevice(*device, request);
}

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_openDeviceWParam(
    JNIEnv* env, jobject self, jstring deviceBus, jstring portName, jint baudRate,
    jstring portParams, jint flowControl, jboolean logEnabled, jint logLevel) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return -1;
    JavaText bus(env, deviceBus);
    JavaText port(env, portName);
    JavaText params(env, portParams);
    bridge::OpenRequest request{};
    request.method = bridge::kOpenDeviceWParam;
    request.deviceBus = bus.Get();
    request.portName = port.Get();
    request.baudRate = baudRate;
    request.withPortParams = true;
    request.portParams = params.Get();
    request.flowControl = flowControl;
    request.textOutsideCodePage =
        TextOutsideCodePage({{"deviceBus", &bus}, {"portName", &port}, {"portParams", &params}});
    request.logEnabled = logEnabled != JNI_FALSE;
    request.logLevel = logLevel;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    return bridge::OpenDevice(*device, request);
}

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_closeDevice(JNIEnv* env,
                                                                              jobject self) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return 0;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    const char* method = bridge::kCloseDevice;
    device->log.Write(kLevelStartEnd, method, "START");
    bridge::CloseSequence(*device);
    device->FreeReadBuffer();
    device->log.Write(kLevelStartEnd, method, "END");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_com_sorvane_jpos_services_WinPortComm_readData(JNIEnv* env,
                                                                                 jobject self) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return nullptr;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    const char* method = bridge::kReadData;
    device->log.Write(kLevelStartEnd, method, "START");
    unsigned count = 0;
    if (!bridge::ReadWithinTimeout(*device, &count)) {
        device->log.Write(kLevelStartEnd, method, "Read Error");
        device->log.Write(kLevelStartEnd, method, "END");
        return nullptr;
    }
    jsize length = static_cast<jsize>(count);
    device->log.Write(kLevelValue, method, "Read %d Bytes", static_cast<int>(length));
    jbyteArray bytes = env->NewByteArray(length);
    if (bytes == nullptr) return nullptr;
    env->SetByteArrayRegion(bytes, 0, length,
                            reinterpret_cast<const jbyte*>(device->readBuffer.get()));
    return bytes;
}

// The length only when the layer took every byte; 0 when it did not (no
// device, a refused or failed write), so the caller can tell.
JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_writeData(JNIEnv* env,
                                                                            jobject self,
                                                                            jbyteArray data,
                                                                            jint size) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return 0;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    const bridge::BridgeLog& log = device->log;
    const char* method = bridge::kWriteData;
    log.Write(kLevelStartEnd, method, "START");
    log.Write(kLevelValue, method, "(B)Buffer Size = %d", static_cast<int>(size));
    jsize arrayLength = data != nullptr ? env->GetArrayLength(data) : 0;
    // A size past the array's end would make the layer read beyond it.
    jint count = size > 0 ? std::min(size, arrayLength) : arrayLength;
    log.Write(kLevelValue, method, "(A)Buffer Size = %d", static_cast<int>(count));
    jbyte* bytes = data != nullptr ? env->GetByteArrayElements(data, nullptr) : nullptr;
    if (bytes == nullptr) {
        // Nothing reached the layer.
        log.Write(kLevelStartEnd, method, "Write Error");
        log.Write(kLevelStartEnd, method, "END");
        return 0;
    }
    bool written = false;
    // Without a port of its own the object must not reach the layer, whose
    // current port is then another object's.
    if (device->portId != 0) {
        bridge::layer::Session session(device->portId);
        written = session.Selected() &&
                  bridge::layer::Write(reinterpret_cast<const unsigned char*>(bytes), count) == 0;
    }
    if (written) {
        log.Write(kLevelValue, method, "Write %d Bytes", static_cast<int>(count));
    } else {
        log.Write(kLevelStartEnd, method, "Write Error");
    }
    // The bytes were only read: nothing to copy back.
    env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    log.Write(kLevelStartEnd, method, "END");
    return written ? count : 0;
}

JNIEXPORT void JNICALL Java_com_sorvane_jpos_services_WinPortComm_SetDeviceBuffer(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jint writeSize,
                                                                                  jint readSize) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    const char* method = bridge::kSetDeviceBuffer;
    device->log.Write(kLevelStartEnd, method, "START");
    device->log.Write(kLevelValue, method, "Buffer Size Write = %d", static_cast<int>(writeSize));
    device->log.Write(kLevelValue, method, "Buffer Size Read = %d", static_cast<int>(readSize));
    // A read size below 1 would leave readData nothing to read into, and one
    // the process cannot allocate would leave no buffer at all: in both
    // cases the previous size and buffer stay. The write size is only
    // reported; writes are never cut to it.
    device->AllocateReadBuffer(readSize);
    device->log.Write(kLevelStartEnd, method, "END");
}

JNIEXPORT void JNICALL Java_com_sorvane_jpos_services_WinPortComm_SetDeviceTimeout(
    JNIEnv* env, jobject self, jint writeSeconds, jint readSeconds) {
    std::shared_ptr<DeviceState> device = bridge::FindDevice(env, self);
    if (device == nullptr) return;
    std::lock_guard<plat::TurnLock> hold(device->callLock);
    const bridge::BridgeLog& log = device->log;
    const char* method = bridge::kSetDeviceTimeout;
    // The time-out lines carry openDevice's name whichever method opened.
    const char* openMethod = bridge::kOpenDevice;
    log.Write(kLevelStartEnd, method, "START");
    log.Write(kLevelValue, method, "Timeout Write = %d(Sec)", static_cast<int>(writeSeconds));
    log.Write(kLevelValue, method, "Timeout Read = %d(Sec)", static_cast<int>(readSeconds));
    device->readTimeoutMs = SecondsToMs(readSeconds);
    device->writeTimeoutMs = SecondsToMs(writeSeconds);
    static const char* const kBusNames[] = {"COM", "ETH", "USB"};
    if (device->busType == bridge::kBusUnknown) {
        log.Write(kLevelFailure, openMethod, "COM Port not Init");
        log.Write(kLevelFailure, openMethod, "ERROR Set Timeouts on Com DLL");
    } else {
        int result = bridge::ApplyTimeouts(*device);
        log.Write(kLevelFailure, openMethod, "COM Port Timeout Set (%s)",
                  kBusNames[device->busType]);
        if (result != 0) {
            log.Write(kLevelFailure, openMethod, "ERROR Set Timeouts on Com DLL");
        } else {
            log.Write(kLevelStep, openMethod, "Set Timeouts on Com DLL");
        }
    }
    log.Write(kLevelStartEnd, method, "END");
}

}  // extern "C"
