// Run under Wine by run_wine_test.sh: Sorjni.dll without a Java VM. The
// program hands the bridge's natives a JNI environment whose table holds
// only the functions the bridge may use (every other entry stops the test),
// and drives the bridge against the Linux printer on a loopback TCP port.
// The WinPortComm object is one that stays alive: its weak reference is
// the object itself and is never cleared.
//
// Arguments (key=value): tcp=<loopback TCP port of the printer>.
#include <jni.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/windows/WineCheck.h"

namespace {

// What the bridge receives as Java strings and byte arrays.
struct JavaString {
    std::string text;
};
struct JavaBytes {
    std::vector<jbyte> bytes;
};
struct JavaObject {
    int unused;
};
JavaObject winPortComm;
std::vector<JavaBytes*> createdArrays;

jstring ToJava(JavaString* text) {
    return reinterpret_cast<jstring>(text);
}
jbyteArray ToJava(JavaBytes* array) {
    return reinterpret_cast<jbyteArray>(array);
}
JavaBytes* FromJava(jarray array) {
    return reinterpret_cast<JavaBytes*>(array);
}

void JNICALL Unexpected() {
    std::printf(
        "FAIL: the bridge called a JNI function outside GetStringUTFChars, "
        "ReleaseStringUTFChars, GetArrayLength, GetByteArrayElements, "
        "ReleaseByteArrayElements, NewByteArray, SetByteArrayRegion, "
        "NewWeakGlobalRef, DeleteWeakGlobalRef and IsSameObject\n");
    std::fflush(stdout);
    std::exit(1);
}

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    return reinterpret_cast<JavaString*>(text)->text.c_str();
}
void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char*) {}
jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
    return static_cast<jsize>(FromJava(array)->bytes.size());
}
jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray array, jboolean* isCopy) {
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    return FromJava(array)->bytes.data();
}
void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint) {}
jbyteArray JNICALL NewByteArray(JNIEnv*, jsize length) {
    auto* array = new JavaBytes;
    array->bytes.assign(static_cast<std::size_t>(length), 0);
    createdArrays.push_back(array);
    return ToJava(array);
}
void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                const jbyte* bytes) {
    std::vector<jbyte>& target = FromJava(array)->bytes;
    if (start < 0 || length < 0 || static_cast<std::size_t>(start + length) > target.size()) {
        Unexpected();
    }
    std::memcpy(target.data() + start, bytes, static_cast<std::size_t>(length));
}

// A weak reference to a live object compares equal to it, and unequal to
// null (the object was not collected).
jweak JNICALL NewWeakGlobalRef(JNIEnv*, jobject object) {
    return object;
}
void JNICALL DeleteWeakGlobalRef(JNIEnv*, jweak) {}
jboolean JNICALL IsSameObject(JNIEnv*, jobject a, jobject b) {
    return a == b ? JNI_TRUE : JNI_FALSE;
}

JNINativeInterface_ table;
JNIEnv env;

void BuildEnvironment() {
    void (*trap)() = &Unexpected;
    unsigned char* slot = reinterpret_cast<unsigned char*>(&table);
    for (std::size_t offset = 0; offset + sizeof trap <= sizeof table; offset += sizeof trap) {
        std::memcpy(slot + offset, &trap, sizeof trap);
    }
    table.GetStringUTFChars = &GetStringUTFChars;
    table.ReleaseStringUTFChars = &ReleaseStringUTFChars;
    table.GetArrayLength = &GetArrayLength;
    table.GetByteArrayElements = &GetByteArrayElements;
    table.ReleaseByteArrayElements = &ReleaseByteArrayElements;
    table.NewByteArray = &NewByteArray;
    table.SetByteArrayRegion = &SetByteArrayRegion;
    table.NewWeakGlobalRef = &NewWeakGlobalRef;
    table.DeleteWeakGlobalRef = &DeleteWeakGlobalRef;
    table.IsSameObject = &IsSameObject;
    env.functions = &table;
}

HMODULE bridge = nullptr;

template <class Function>
Function Native(const char* method) {
    std::string name = std::string("Java_com_sorvane_jpos_services_WinPortComm_") + method;
    FARPROC address = GetProcAddress(bridge, name.c_str());
    if (address == nullptr) {
        wine_check::Fail(__FILE__, __LINE__, "no export " + name);
        std::exit(1);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

using OpenDevice = jint(JNICALL*)(JNIEnv*, jobject, jstring, jstring, jint, jboolean, jint);
using CloseDevice = jint(JNICALL*)(JNIEnv*, jobject);
using ReadData = jbyteArray(JNICALL*)(JNIEnv*, jobject);
using WriteData = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jint);
using SetDeviceTimeout = void(JNICALL*)(JNIEnv*, jobject, jint, jint);

// The version text the bridge logs: from its own version resource, the
// low bytes of the second and the fourth part.
std::string ExpectedVersionText() {
    char fileName[MAX_PATH];
    GetModuleFileNameA(bridge, fileName, MAX_PATH);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName, &unused);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (size == 0 || !GetFileVersionInfoA(fileName, 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize)) {
        wine_check::Fail(__FILE__, __LINE__, "Sorjni.dll has no version resource");
        return "";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", LOWORD(fixed->dwFileVersionMS) & 0xFF,
                  LOWORD(fixed->dwFileVersionLS) & 0xFF);
    return text;
}

void ChecksTcpPrinterThroughTheBridge(int tcpPort) {
    wine_check::Section("bridge: TCP printer on loopback");
    jobject self = reinterpret_cast<jobject>(&winPortComm);
    Native<SetDeviceTimeout>("SetDeviceTimeout")(&env, self, 2, 2);

    JavaString bus{"Ethernet"};
    JavaString port{"127.0.0.1:" + std::to_string(tcpPort)};
    WCHECK_EQ(0, Native<OpenDevice>("openDevice")(&env, self, ToJava(&bus), ToJava(&port), 0,
                                                  JNI_TRUE, 5));
    const std::string text = "Hello Printer 42";
    JavaBytes data{std::vector<jbyte>(text.begin(), text.end())};
    WCHECK_EQ(16, Native<WriteData>("writeData")(&env, self, ToJava(&data), 0));

    std::string answer;
    DWORD start = GetTickCount();
    for (int attempt = 0; attempt < 20 && answer.size() < text.size(); ++attempt) {
        jbyteArray read = Native<ReadData>("readData")(&env, self);
        if (read != nullptr) {
            const std::vector<jbyte>& bytes = FromJava(read)->bytes;
            answer.append(bytes.begin(), bytes.end());
        }
        if (GetTickCount() - start > 5000) break;
    }
    if (answer != "hELLO pRINTER 42") {
        wine_check::Fail(__FILE__, __LINE__, "the printer answered \"" + answer + "\"");
    }
    WCHECK_EQ(0, Native<CloseDevice>("closeDevice")(&env, self));

    JavaString unknownBus{"Parallel"};
    WCHECK_EQ(-1, Native<OpenDevice>("openDevice")(&env, self, ToJava(&unknownBus), ToJava(&port),
                                                   0, JNI_TRUE, 5));
    WCHECK_EQ(0, Native<CloseDevice>("closeDevice")(&env, self));
}

void ChecksTheBridgeLogs() {
    wine_check::Section("bridge: its log and the layer's, in the documents folder");
    char documents[MAX_PATH] = {};
    WCHECK(SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE));
    std::string folder = std::string(documents) + "\\Sorvane\\JavaPos\\Log\\";
    std::string log = wine_check::ReadWholeFile((folder + "Sorjni.log").c_str());
    WCHECK(!log.empty());
    const char* shape = "[dddd/dd/dd dd:dd:dd]";
    std::size_t lineStart = 0;
    int lines = 0;
    while (lineStart < log.size()) {
        std::size_t end = log.find("\r\n", lineStart);
        if (end == std::string::npos) {
            wine_check::Fail(__FILE__, __LINE__, "bridge log line without CR LF");
            break;
        }
        std::string line = log.substr(lineStart, end - lineStart);
        for (std::size_t i = 0; shape[i] != '\0'; ++i) {
            bool ok = i < line.size() &&
                      (shape[i] == 'd' ? line[i] >= '0' && line[i] <= '9' : line[i] == shape[i]);
            if (!ok) {
                wine_check::Fail(__FILE__, __LINE__, "bridge log line without stamp: " + line);
                break;
            }
        }
        lineStart = end + 2;
        ++lines;
    }
    WCHECK(lines > 5);
    auto has = [&](const std::string& message) {
        if (log.find("]" + message + "\r\n") == std::string::npos) {
            wine_check::Fail(__FILE__, __LINE__, "no bridge log line \"" + message + "\"");
        }
    };
    const std::string open = "Java_com_sorvane_jpos_services_WinPortComm_openDevice: ";
    has(open + "START");
    has(open + "DLL version " + ExpectedVersionText());
    has(open + "Init Com DLL");
    has(open + "Open Port on Com DLL");
    has(open + "GetDevicePort: PORT  NOT Recognized");
    has(open + "ERROR, Port non Recognized");
    has("Java_com_sorvane_jpos_services_WinPortComm_writeData: Write 16 Bytes");

    std::string layerLog = wine_check::ReadWholeFile((folder + "Sorlink.log").c_str());
    WCHECK(layerLog.find("CSvComEth::OpenEth -  END") != std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
    const char* tcp = wine_check::Argument(argc, argv, "tcp");
    if (tcp == nullptr) {
        std::printf("usage: %s tcp=<port>\n", argv[0]);
        return 2;
    }
    BuildEnvironment();
    bridge = LoadLibraryA("Sorjni.dll");
    if (bridge == nullptr) {
        std::printf("FAIL: LoadLibraryA(\"Sorjni.dll\") failed with error %lu\n", GetLastError());
        return 1;
    }
    ChecksTcpPrinterThroughTheBridge(std::atoi(tcp));
    ChecksTheBridgeLogs();
    FreeLibrary(bridge);
    for (JavaBytes* array : createdArrays) delete array;
    std::printf("%s: %d failure(s)\n", argv[0], wine_check::Failures());
    return wine_check::Failures() == 0 ? 0 : 1;
}
