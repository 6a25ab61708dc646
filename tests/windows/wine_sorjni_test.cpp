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

// What the bridge receives as Java strings (UTF-16, as Java keeps them)
// and byte arrays.
struct JavaString {
    std::wstring text;
};
struct JavaBytes {
    std::vector<jbyte> bytes;
};
struct JavaObject {
    int unused;
};
JavaObject winPortComm;
// The one WinPortComm object every call of this test is made on.
jobject Self() {
    return reinterpret_cast<jobject>(&winPortComm);
}
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
        "FAIL: the bridge called a JNI function outside GetStringLength, "
        "GetStringChars, ReleaseStringChars, GetArrayLength, GetByteArrayElements, "
        "ReleaseByteArrayElements, NewByteArray, SetByteArrayRegion, "
        "NewWeakGlobalRef, DeleteWeakGlobalRef and IsSameObject\n");
    std::fflush(stdout);
    std::exit(1);
}

jsize JNICALL GetStringLength(JNIEnv*, jstring text) {
    return static_cast<jsize>(reinterpret_cast<JavaString*>(text)->text.size());
}
// Java's strings hold no terminator: the bridge must go by the length.
const jchar* JNICALL GetStringChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    return reinterpret_cast<const jchar*>(reinterpret_cast<JavaString*>(text)->text.data());
}
void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}
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
    table.GetStringLength = &GetStringLength;
    table.GetStringChars = &GetStringChars;
    table.ReleaseStringChars = &ReleaseStringChars;
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
    jobject self = Self();
    Native<SetDeviceTimeout>("SetDeviceTimeout")(&env, self, 2, 2);

    JavaString bus{L"Ethernet"};
    JavaString port{L"127.0.0.1:" + std::to_wstring(tcpPort)};
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

    JavaString unknownBus{L"Parallel"};
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

std::string DocumentsLogFolder() {
    char documents[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE);
    return std::string(documents) + "\\Sorvane\\JavaPos\\Log\\";
}

// A path of MAX_PATH characters or more is read through the "\\?\" form.
std::string ReadWideNamedFile(const std::wstring& path) {
    std::string text;
    std::wstring name = path.size() < MAX_PATH ? path : L"\\\\?\\" + path;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

jint OpenEthernet(int tcpPort) {
    JavaString bus{L"Ethernet"};
    JavaString port{L"127.0.0.1:" + std::to_wstring(tcpPort)};
    return Native<OpenDevice>("openDevice")(&env, Self(), ToJava(&bus), ToJava(&port), 0, JNI_TRUE,
                                            5);
}

// A technician's viewer holds the bridge's log open for reading with full
// sharing, as tail-style viewers do: no line may be lost to it.
void ChecksAViewerCostsTheBridgeNoLine() {
    wine_check::Section("bridge: its log while a viewer holds it open");
    std::string path = DocumentsLogFolder() + "Sorjni.log";
    HANDLE viewer = CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    WCHECK(viewer != INVALID_HANDLE_VALUE);
    std::size_t before = wine_check::ReadWholeFile(path.c_str()).size();
    JavaString bus{L"Parallel"};
    JavaString port{L"LPT1"};
    WCHECK_EQ(-1, Native<OpenDevice>("openDevice")(&env, Self(), ToJava(&bus), ToJava(&port), 0,
                                                   JNI_TRUE, 5));
    WCHECK_EQ(0, Native<CloseDevice>("closeDevice")(&env, Self()));
    std::string added = wine_check::ReadWholeFile(path.c_str()).substr(before);
    WCHECK(Has(added, "openDevice: START\r\n"));
    WCHECK(Has(added, "openDevice: ERROR, Port non Recognized\r\n"));
    WCHECK(Has(added, "closeDevice: END\r\n"));
    if (viewer != INVALID_HANDLE_VALUE) CloseHandle(viewer);
}

const wchar_t kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

// Java's names reach the layer in the system's code page: an installed
// printer named "Caisse Reçu" is found (Wine's code page here is 1252);
// a name the code page cannot hold fails the open with its own line.
void ChecksNamesCrossInTheCodePage() {
    wine_check::Section("bridge: printer names in the system's code page");
    if (GetACP() != 1252) {
        std::printf("note: the ANSI code page is %u, not 1252: names not checked\n", GetACP());
        return;
    }
    const std::wstring printer = L"Caisse Re\u00e7u";
    HKEY key = nullptr;
    WCHECK_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kPrintersKey + printer).c_str(),
                                             0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const wchar_t port[] = L"USB001";
    RegSetValueExW(key, L"Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof port);
    RegCloseKey(key);

    std::string folder = DocumentsLogFolder();
    std::size_t layerBefore = wine_check::ReadWholeFile((folder + "Sorlink.log").c_str()).size();
    std::size_t bridgeBefore = wine_check::ReadWholeFile((folder + "Sorjni.log").c_str()).size();
    JavaString bus{L"USB"};
    JavaString accented{printer};
    // Found, then refused for want of a USB device behind it.
    WCHECK_EQ(-1, Native<OpenDevice>("openDevice")(&env, Self(), ToJava(&bus), ToJava(&accented),
                                                   0, JNI_TRUE, 5));
    JavaString greek{L"\u0395\u03ba\u03c4\u03c5\u03c0\u03c9\u03c4\u03ae\u03c2"};
    WCHECK_EQ(-1, Native<OpenDevice>("openDevice")(&env, Self(), ToJava(&bus), ToJava(&greek), 0,
                                                   JNI_TRUE, 5));
    WCHECK_EQ(0, Native<CloseDevice>("closeDevice")(&env, Self()));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kPrintersKey + printer).c_str());

    std::string layerLog =
        wine_check::ReadWholeFile((folder + "Sorlink.log").c_str()).substr(layerBefore);
    WCHECK(Has(layerLog, "Try to init printer Caisse Re\xE7u\r\n"));
    WCHECK(!Has(layerLog, "has not found in the registry"));
    std::string bridgeLog =
        wine_check::ReadWholeFile((folder + "Sorjni.log").c_str()).substr(bridgeBefore);
    WCHECK(Has(bridgeLog, "openDevice: portName = Caisse Re\xE7u\r\n"));
    WCHECK(Has(bridgeLog,
               "openDevice: ERROR portName has a character the system code page cannot "
               "hold\r\n"));
}

// The user's documents folder moved, for the life of the object, as the
// shell's "User Shell Folders" key records a moved folder.
class DocumentsFolderMoved {
public:
    explicit DocumentsFolderMoved(const std::wstring& folder) {
        RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_READ | KEY_WRITE, &key);
        DWORD size = sizeof saved;
        hadValue = RegQueryValueExW(key, L"Personal", nullptr, &savedType,
                                    reinterpret_cast<BYTE*>(saved), &size) == ERROR_SUCCESS;
        savedSize = size;
        RegSetValueExW(key, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    ~DocumentsFolderMoved() {
        if (hadValue) {
            RegSetValueExW(key, L"Personal", 0, savedType, reinterpret_cast<const BYTE*>(saved),
                           savedSize);
        } else {
            RegDeleteValueW(key, L"Personal");
        }
        RegCloseKey(key);
    }
    DocumentsFolderMoved(const DocumentsFolderMoved&) = delete;
    DocumentsFolderMoved& operator=(const DocumentsFolderMoved&) = delete;

private:
    static constexpr const wchar_t* kUserShellFolders =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key = nullptr;
    bool hadValue = false;
    DWORD savedType = REG_EXPAND_SZ;
    wchar_t saved[MAX_PATH] = {};
    DWORD savedSize = 0;
};

// A documents folder whose name the code page cannot hold, and one so long
// that the layer's log path (at most 199 characters) would not fit in it:
// both logs are still written there, through the folder's short form.
void ChecksDocumentsFoldersTheAnsiCallsCannotName(int tcpPort) {
    wine_check::Section(
        "bridge: both logs in a Greek, a 168- and a 245-character documents folder");
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring greek = std::wstring(temp) + L"\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1";
    // 168 characters: the bridge's log fits in the long form, the layer's
    // does not. 245: the log folders would pass the 248 characters of a
    // folder the 8-bit calls make, so they are made in the short form.
    auto longFolder = [&temp](std::size_t length) {
        std::wstring folder = std::wstring(temp) + L"Front till documents";
        while (folder.size() + 21 < length) folder += L"\\Front till documents";
        return folder + L"\\" + std::wstring(length - 1 - folder.size(), L'x');
    };
    WCHECK_EQ(168, longFolder(168).size());
    WCHECK_EQ(245, longFolder(245).size());

    for (const std::wstring& documents : {greek, longFolder(168), longFolder(245)}) {
        for (std::size_t end = documents.find(L'\\', 3); end != std::wstring::npos;
             end = documents.find(L'\\', end + 1)) {
            CreateDirectoryW(documents.substr(0, end).c_str(), nullptr);
        }
        CreateDirectoryW(documents.c_str(), nullptr);
        DocumentsFolderMoved moved(documents);
        wchar_t asked[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, asked);
        if (documents != asked) {
            std::printf("note: the shell did not report the moved documents folder\n");
            continue;
        }
        DeleteFileA("C:\\Sorlink.log");
        WCHECK_EQ(0, OpenEthernet(tcpPort));
        WCHECK_EQ(0, Native<CloseDevice>("closeDevice")(&env, Self()));
        std::wstring folder = documents + L"\\Sorvane\\JavaPos\\Log\\";
        std::string bridgeLog = ReadWideNamedFile(folder + L"Sorjni.log");
        std::string layerLog = ReadWideNamedFile(folder + L"Sorlink.log");
        if (!Has(bridgeLog, "openDevice: Open Port on Com DLL\r\n") ||
            !Has(layerLog, "CSvComEth::OpenEth -  END")) {
            wine_check::Fail(__FILE__, __LINE__,
                             "logs missing in a documents folder of " +
                                 std::to_string(documents.size()) + " characters");
        }
        WCHECK(GetFileAttributesA("C:\\Sorlink.log") == INVALID_FILE_ATTRIBUTES);
    }
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
    ChecksAViewerCostsTheBridgeNoLine();
    ChecksNamesCrossInTheCodePage();
    ChecksDocumentsFoldersTheAnsiCallsCannotName(std::atoi(tcp));
    FreeLibrary(bridge);
    for (JavaBytes* array : createdArrays) delete array;
    std::printf("%s: %d failure(s)\n", argv[0], wine_check::Failures());
    return wine_check::Failures() == 0 ? 0 : 1;
}
