// The native methods of com.sorvane.jpos.services.WinPortComm.
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "jposbridge/BridgeLog.h"
#include "jposbridge/BridgeState.h"
#include "jposbridge/LayerBinding.h"
#include "jposbridge/OpenSequence.h"
#include "platform/system.h"

namespace {

using bridge::BridgeLog;
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

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_openDevice(
    JNIEnv* env, jobject, jstring deviceBus, jstring portName, jint baudRate, jboolean logEnabled,
    jint logLevel) {
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
    return bridge::OpenDevice(request);
}

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_openDeviceWParam(
    JNIEnv* env, jobject, jstring deviceBus, jstring portName, jint baudRate, jstring portParams,
    jint flowControl, jboolean logEnabled, jint logLevel) {
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
    return bridge::OpenDevice(request);
}

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_closeDevice(JNIEnv*, jobject) {
    const char* method = bridge::kCloseDevice;
    BridgeLog::Write(kLevelStartEnd, method, "START");
    bridge::CloseSequence();
    bridge::FreeReadBuffer();
    BridgeLog::Write(kLevelStartEnd, method, "END");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_com_sorvane_jpos_services_WinPortComm_readData(JNIEnv* env,
                                                                                 jobject) {
    const char* method = bridge::kReadData;
    bridge::DeviceState& device = bridge::Device();
    BridgeLog::Write(kLevelStartEnd, method, "START");
    unsigned count = 0;
    if (device.readBuffer == nullptr ||
        bridge::layer::Read(device.readBuffer.get(), device.readBufferSize, &count) != 0) {
        BridgeLog::Write(kLevelStartEnd, method, "Read Error");
        BridgeLog::Write(kLevelStartEnd, method, "END");
        return nullptr;
    }
    // The layer never reports more than the buffer holds; a count beyond it
    // must still not copy past the buffer.
    jsize length = static_cast<jsize>(std::min<unsigned>(count, device.readBufferSize));
    BridgeLog::Write(kLevelValue, method, "Read %d Bytes", static_cast<int>(length));
    jbyteArray bytes = env->NewByteArray(length);
    if (bytes == nullptr) return nullptr;
    env->SetByteArrayRegion(bytes, 0, length,
                            reinterpret_cast<const jbyte*>(device.readBuffer.get()));
    return bytes;
}

JNIEXPORT jint JNICALL Java_com_sorvane_jpos_services_WinPortComm_writeData(JNIEnv* env, jobject,
                                                                            jbyteArray data,
                                                                            jint size) {
    const char* method = bridge::kWriteData;
    BridgeLog::Write(kLevelStartEnd, method, "START");
    BridgeLog::Write(kLevelValue, method, "(B)Buffer Size = %d", static_cast<int>(size));
    jsize arrayLength = data != nullptr ? env->GetArrayLength(data) : 0;
    // A size past the array's end would make the layer read beyond it.
    jint count = size > 0 ? std::min(size, arrayLength) : arrayLength;
    BridgeLog::Write(kLevelValue, method, "(A)Buffer Size = %d", static_cast<int>(count));
    jbyte* bytes = data != nullptr ? env->GetByteArrayElements(data, nullptr) : nullptr;
    if (bytes == nullptr) {
        // Nothing reached the layer.
        BridgeLog::Write(kLevelStartEnd, method, "Write Error");
        BridgeLog::Write(kLevelStartEnd, method, "END");
        return 0;
    }
    if (bridge::layer::Write(reinterpret_cast<const unsigned char*>(bytes), count) != 0) {
        BridgeLog::Write(kLevelStartEnd, method, "Write Error");
    } else {
        BridgeLog::Write(kLevelValue, method, "Write %d Bytes", static_cast<int>(count));
    }
    // The bytes were only read: nothing to copy back.
    env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    BridgeLog::Write(kLevelStartEnd, method, "END");
    return count;
}

JNIEXPORT void JNICALL Java_com_sorvane_jpos_services_WinPortComm_SetDeviceBuffer(JNIEnv*, jobject,
                                                                                  jint writeSize,
                                                                                  jint readSize) {
    const char* method = bridge::kSetDeviceBuffer;
    BridgeLog::Write(kLevelStartEnd, method, "START");
    BridgeLog::Write(kLevelValue, method, "Buffer Size Write = %d", static_cast<int>(writeSize));
    BridgeLog::Write(kLevelValue, method, "Buffer Size Read = %d", static_cast<int>(readSize));
    // A read size below 1 would leave readData nothing to read into, and one
    // the process cannot allocate would leave no buffer at all: in both
    // cases the previous size and buffer stay. The write size is only
    // reported; writes are never cut to it.
    bridge::AllocateReadBuffer(readSize);
    BridgeLog::Write(kLevelStartEnd, method, "END");
}

JNIEXPORT void JNICALL Java_com_sorvane_jpos_services_WinPortComm_SetDeviceTimeout(
    JNIEnv*, jobject, jint writeSeconds, jint readSeconds) {
    const char* method = bridge::kSetDeviceTimeout;
    // The time-out lines carry openDevice's name whichever method opened.
    const char* openMethod = bridge::kOpenDevice;
    BridgeLog::Write(kLevelStartEnd, method, "START");
    BridgeLog::Write(kLevelValue, method, "Timeout Write = %d(Sec)",
                     static_cast<int>(writeSeconds));
    BridgeLog::Write(kLevelValue, method, "Timeout Read = %d(Sec)", static_cast<int>(readSeconds));
    bridge::DeviceState& device = bridge::Device();
    device.readTimeoutMs = SecondsToMs(readSeconds);
    device.writeTimeoutMs = SecondsToMs(writeSeconds);
    static const char* const kBusNames[] = {"COM", "ETH", "USB"};
    if (device.busType == bridge::kBusUnknown) {
        BridgeLog::Write(kLevelFailure, openMethod, "COM Port not Init");
        BridgeLog::Write(kLevelFailure, openMethod, "ERROR Set Timeouts on Com DLL");
    } else {
        int result = bridge::ApplyTimeouts();
        BridgeLog::Write(kLevelFailure, openMethod, "COM Port Timeout Set (%s)",
                         kBusNames[device.busType]);
        if (result != 0) {
            BridgeLog::Write(kLevelFailure, openMethod, "ERROR Set Timeouts on Com DLL");
        } else {
            BridgeLog::Write(kLevelStep, openMethod, "Set Timeouts on Com DLL");
        }
    }
    BridgeLog::Write(kLevelStartEnd, method, "END");
}

}  // extern "C"
