// The .reg parser, read back through the registry calls the transports use.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/common/RegistryCalls.h"
#include "platform/registry.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/TestSupport.h"

using testing_support::Utf16WithBom;

namespace {

struct Data {
    std::uint32_t type = 0;
    std::string bytes;
    bool operator==(const Data& other) const { return type == other.type && bytes == other.bytes; }
};

std::ostream& operator<<(std::ostream& out, const Data& data) {
    return out << "type " << data.type << " \"" << data.bytes << "\"";
}

Data Text(const std::string& text) {
    return Data{plat::kRegSz, text + std::string(1, '\0')};
}

class RegFile : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override { EXPECT_EQ(0u, plat::reg::OpenKeyCount()); }

    static std::vector<std::string> SubKeys(const std::string& path) {
        std::vector<std::string> names;
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, path.c_str(), 0, plat::kKeyRead, &key))
            return {"<missing>"};
        char name[256];
        for (std::uint32_t i = 0; i < 1000; ++i) {
            if (plat::RegEnumKeyA(key, i, name, sizeof name) != 0) break;
            names.push_back(name);
        }
        plat::RegCloseKey(key);
        return names;
    }

    static std::vector<std::pair<std::string, Data>> Values(const std::string& path) {
        std::vector<std::pair<std::string, Data>> values;
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, path.c_str(), 0, plat::kKeyRead, &key))
            return {{"<missing>", Data{}}};
        for (std::uint32_t i = 0; i < 1000; ++i) {
            char name[256];
            std::uint32_t nameSize = sizeof name;
            std::uint8_t data[4096];
            std::uint32_t dataSize = sizeof data;
            std::uint32_t type = 0;
            if (plat::RegEnumValueA(key, i, name, &nameSize, &type, data, &dataSize) != 0) break;
            values.emplace_back(name, Data{type, std::string(data, data + dataSize)});
        }
        plat::RegCloseKey(key);
        return values;
    }

    static Data Query(const std::string& path, const char* name) {
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, path.c_str(), 0, plat::kKeyRead, &key))
            return Data{99, "<missing key>"};
        std::uint8_t data[4096];
        std::uint32_t size = sizeof data;
        Data result;
        if (plat::RegQueryValueExA(key, name, &result.type, data, &size) == 0)
            result.bytes.assign(data, data + size);
        else
            result = Data{99, "<missing value>"};
        plat::RegCloseKey(key);
        return result;
    }
};

const char kVersion5[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports]\r\n"
    "@=\"default\"\r\n"
    "\"Quoted\"=\"a \\\"b\\\" c:\\\\d\\\\\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Expand\"=hex(2):25,00,53,00,59,00,53,00,25,00,5c,00,\\\r\n"
    "  78,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Raw\"=hex:de,ad,\\\r\n"
    "  be,ef\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\Zeta]\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\Alpha]\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\Mid]\r\n";

TEST_F(RegFile, Version5FileInUtf16WithByteOrderMark) {
    fake::SetRegistry(Utf16WithBom(kVersion5));
    std::vector<std::pair<std::string, Data>> expected = {
        {"", Text("default")},
        {"Quoted", Text("a \"b\" c:\\d\\")},
        {"Count", Data{plat::kRegDword, std::string("\x2a\0\0\0", 4)}},
        {"Expand", Data{plat::kRegExpandSz, std::string("%SYS%\\x\0", 8)}},
        {"Multi", Data{plat::kRegMultiSz, std::string("a\0b\0\0", 5)}},
        {"Raw", Data{plat::kRegBinary, "\xde\xad\xbe\xef"}},
    };
    EXPECT_EQ(expected, Values("SYSTEM\\Ports"));
    EXPECT_EQ((std::vector<std::string>{"Zeta", "Alpha", "Mid"}), SubKeys("SYSTEM\\Ports"));
}

TEST_F(RegFile, Version5FileInEightBitTextReadsTheSame) {
    // With or without the UTF-8 byte-order mark a text editor may add: the
    // header line must still be seen, or hex(2) would stay UTF-16.
    for (std::string bom : {"", "\xEF\xBB\xBF"}) {
        SCOPED_TRACE(bom.size());
        fake::SetRegistry(bom + kVersion5);
        EXPECT_EQ(Data(Text("default")), Query("SYSTEM\\Ports", nullptr));
        EXPECT_EQ(Data(Text("default")), Query("SYSTEM\\Ports", ""));
        EXPECT_EQ((Data{plat::kRegExpandSz, std::string("%SYS%\\x\0", 8)}),
                  Query("SYSTEM\\Ports", "expand"));
    }
}

TEST_F(RegFile, Regedit4FileKeepsHexStringsAsEightBitText) {
    fake::SetRegistry(
        "REGEDIT4\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
        "\"Expand\"=hex(2):25,41,25,00\n"
        "\"Name\"=\"Printer\"\n");
    EXPECT_EQ((Data{plat::kRegExpandSz, std::string("%A%\0", 4)}),
              Query("SOFTWARE\\Old", "Expand"));
    EXPECT_EQ(Data(Text("Printer")), Query("SOFTWARE\\Old", "Name"));
}

TEST_F(RegFile, NamesCompareWithoutRegardToCase) {
    fake::SetRegistry(
        "REGEDIT4\n"
        "[hkey_local_machine\\Software\\Shop]\n"
        "\"Name\"=\"first\"\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\SHOP]\n"
        "\"NAME\"=\"second\"\n");
    EXPECT_EQ(Data(Text("second")), Query("software\\shop", "name"));
    EXPECT_EQ((std::vector<std::string>{"Shop"}), SubKeys("SOFTWARE"));
    EXPECT_EQ(1u, Values("SOFTWARE\\Shop").size());
}

TEST_F(RegFile, DeletionsRemoveKeysAndValuesAndLaterLinesAddThemBack) {
    fake::SetRegistry(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\A]\n"
        "\"One\"=\"1\"\n"
        "\"Two\"=\"2\"\n"
        "\"Three\"=\"3\"\n"
        "[HKEY_LOCAL_MACHINE\\A\\Gone\\Deep]\n"
        "[HKEY_LOCAL_MACHINE\\A\\Kept]\n"
        "[-HKEY_LOCAL_MACHINE\\A\\gone]\n"
        "\"Orphan\"=\"skipped: no key is open after a deletion\"\n"
        "[-HKEY_LOCAL_MACHINE\\A\\NeverThere]\n"
        "[HKEY_LOCAL_MACHINE\\A]\n"
        "\"two\"=-\n"
        "\"Missing\"=-\n"
        "\"Two\"=\"again\"\n");
    EXPECT_EQ((std::vector<std::string>{"Kept"}), SubKeys("A"));
    EXPECT_EQ((std::vector<std::pair<std::string, Data>>{
                  {"One", Text("1")}, {"Three", Text("3")}, {"Two", Text("again")}}),
              Values("A"));
    EXPECT_EQ(std::vector<std::string>{"<missing>"}, SubKeys("A\\Gone"));
}

TEST_F(RegFile, BadLinesAreSkippedAndTheRestIsRead) {
    plat::reg::Store store;
    std::vector<std::size_t> lines;
    std::size_t skipped = plat::reg::ParseRegFile(
        "REGEDIT4\n"
        "\"Before\"=\"no key yet\"\n"
        "[HKEY_NOWHERE\\X]\n"
        "[HKEY_LOCAL_MACHINE\\Good\n"
        "[HKEY_LOCAL_MACHINE\\Good]\n"
        "; a comment \\\n"
        "\"Unterminated=\"x\"\n"
        "\"NoEquals\" \"x\"\n"
        "\"BadDword\"=dword:xyz\n"
        "\"LongDword\"=dword:123456789\n"
        "\"BadHex\"=hex:zz\n"
        "\"BadType\"=hex(q):00\n"
        "\"Trailing\"=\"x\" junk\n"
        "\"Ok\"=\"yes\"\n",
        store, &lines);
    EXPECT_EQ(10u, skipped);
    EXPECT_EQ((std::vector<std::size_t>{2, 3, 4, 7, 8, 9, 10, 11, 12, 13}), lines);
    const plat::reg::Key* good = store.Find("HKEY_LOCAL_MACHINE", "Good");
    ASSERT_NE(nullptr, good);
    ASSERT_EQ(1u, good->ValueCount());
    EXPECT_EQ("Ok", good->ValueAt(0)->name);
}

TEST_F(RegFile, ASkippedEntryIsNumberedByTheLineItStartsOn) {
    // A value continued over three lines counts as the first of them.
    plat::reg::Store store;
    std::vector<std::size_t> lines;
    plat::reg::ParseRegFile(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"Bin\"=hex:01,\\\r\n  02,\\\r\n  03\r\n"
        "\"Bad\"=hex:01,\\\r\n  zz\r\n\"Ok\"=\"1\"\r\nnot a line\r\n",
        store, &lines);
    EXPECT_EQ((std::vector<std::size_t>{7, 10}), lines);
}

TEST_F(RegFile, NamesWithAZeroByteAreSkipped) {
    // Cut at the zero, they would name another key or value.
    plat::reg::Store store;
    using namespace std::string_literals;
    std::string file =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\0x\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\A\\\0]\n[HKEY_LOCAL_MACHINE\\A\\b\0c]\n"s;
    EXPECT_EQ(3u, plat::reg::ParseRegFile(file, store));
    const plat::reg::Key* a = store.Find("HKEY_LOCAL_MACHINE", "A");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0u, a->ValueCount());
    EXPECT_EQ(0u, a->SubKeyCount());
}

TEST_F(RegFile, KeysDeeperThanTheLimitAreSkipped) {
    std::string deep = "[HKEY_LOCAL_MACHINE";
    for (std::size_t i = 0; i <= plat::reg::kMaxKeyDepth; ++i) deep += "\\k";
    plat::reg::Store store;
    // The key line, then its value line for want of an open key.
    EXPECT_EQ(2u, plat::reg::ParseRegFile("REGEDIT4\n" + deep + "]\n\"v\"=\"x\"\n", store));
    EXPECT_EQ(nullptr, store.Find("HKEY_LOCAL_MACHINE", "k"));
}

// A fixed sequence of pseudo-random bytes, so that a failure repeats.
std::string NoiseBytes(std::uint32_t seed, std::size_t length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

TEST_F(RegFile, TruncatedBinaryAndNoisyInputNeverBreaksTheStore) {
    std::string files[] = {kVersion5, Utf16WithBom(kVersion5)};
    for (const std::string& file : files) {
        for (std::size_t length = 0; length <= file.size(); ++length) {
            plat::reg::Store store;
            plat::reg::ParseRegFile(file.substr(0, length), store);
        }
    }
    const std::string alphabet = "[]\\\"=@-:,;hexdword(27)\r\n HKEY_LOCAL_MACHINE";
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        std::string noise = NoiseBytes(seed, 2000);
        std::string shaped = noise;
        for (char& c : shaped) c = alphabet[static_cast<unsigned char>(c) % alphabet.size()];
        for (const std::string& input : {noise, "REGEDIT4\n" + shaped, Utf16WithBom(shaped)}) {
            fake::SetRegistry(input);
            SubKeys("");
            Values("");
        }
    }
    fake::SetRegistry(std::string(4096, '\0'));
    EXPECT_EQ(std::vector<std::string>{"<missing>"}, SubKeys("X"));
}

TEST_F(RegFile, InputOverTheSizeLimitIsIgnoredAsAWhole) {
    std::string file = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Big]\n\"v\"=hex:";
    file += std::string(plat::reg::kMaxFileBytes, '0');
    plat::reg::Store store;
    EXPECT_EQ(0u, plat::reg::ParseRegFile(file, store));
    EXPECT_EQ(nullptr, store.Find("HKEY_LOCAL_MACHINE", "Big"));
}

TEST_F(RegFile, ManyEntriesInOneKeyParseInLinearTime) {
    // Quadratic look-ups would take minutes here; hashed ones take well
    // under a second even under the sanitizers.
    std::string file = "REGEDIT4\n";
    const int count = 30000;
    for (int i = 0; i < count; ++i)
        file += "[HKEY_LOCAL_MACHINE\\Many\\key" + std::to_string(i) + "]\n";
    file += "[HKEY_LOCAL_MACHINE\\Many]\n";
    for (int i = 0; i < count; ++i) file += "\"value" + std::to_string(i) + "\"=dword:1\n";
    for (int i = 0; i < count; i += 2) file += "\"value" + std::to_string(i) + "\"=-\n";
    for (int i = 0; i < count; i += 2)
        file += "[-HKEY_LOCAL_MACHINE\\Many\\key" + std::to_string(i) + "]\n";

    auto start = std::chrono::steady_clock::now();
    plat::reg::Store store;
    EXPECT_EQ(0u, plat::reg::ParseRegFile(file, store));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    const plat::reg::Key* many = store.Find("HKEY_LOCAL_MACHINE", "Many");
    ASSERT_NE(nullptr, many);
    ASSERT_EQ(static_cast<std::size_t>(count / 2), many->SubKeyCount());
    ASSERT_EQ(static_cast<std::size_t>(count / 2), many->ValueCount());
    EXPECT_EQ("key1", many->SubKeyAt(0)->name);
    EXPECT_EQ("value" + std::to_string(count - 1), many->ValueAt(count / 2 - 1)->name);
    EXPECT_NE(nullptr, many->FindSubKey("KEY33"));
    EXPECT_EQ(nullptr, many->FindValue("value4"));
}

TEST_F(RegFile, ACopiedStoreChangesWithoutTouchingTheOriginal) {
    plat::reg::Store original;
    plat::reg::ParseRegFile(kVersion5, original);
    plat::reg::Store copy(original);
    copy.Ensure("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports\\Alpha\\New");
    plat::reg::Value value;
    value.name = "Count";
    value.type = plat::kRegDword;
    value.data = {7, 0, 0, 0};
    copy.Ensure("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports")->SetValue(value);
    copy.Edit("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports")->RemoveSubKey("Zeta");
    EXPECT_EQ(nullptr, copy.Edit("HKEY_LOCAL_MACHINE", "SYSTEM\\Absent"));

    const plat::reg::Key* ports = original.Find("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports");
    ASSERT_NE(nullptr, ports);
    EXPECT_EQ(3u, ports->SubKeyCount());
    EXPECT_EQ(0x2a, ports->FindValue("Count")->data[0]);
    EXPECT_EQ(nullptr, original.Find("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports\\Alpha\\New"));

    const plat::reg::Key* changed = copy.Find("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports");
    EXPECT_EQ(2u, changed->SubKeyCount());
    EXPECT_EQ(7, changed->FindValue("Count")->data[0]);
    EXPECT_NE(nullptr, copy.Find("HKEY_LOCAL_MACHINE", "SYSTEM\\Ports\\Alpha\\New"));
    // What the copy did not change it still shares.
    EXPECT_EQ(ports->FindValue("Raw"), changed->FindValue("Raw"));
    EXPECT_EQ(ports->FindSubKey("Mid"), changed->FindSubKey("Mid"));
}

TEST_F(RegFile, SmallBuffersGetMoreDataAndTheSizeNeeded) {
    fake::SetRegistry(kVersion5);
    plat::Hkey key = 0;
    ASSERT_EQ(
        0, plat::RegOpenKeyExA(plat::kHkeyLocalMachine, "SYSTEM\\Ports", 0, plat::kKeyRead, &key));
    std::uint8_t data[4];
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    EXPECT_EQ(static_cast<long>(plat::kErrorMoreData),
              plat::RegQueryValueExA(key, "Quoted", &type, data, &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(plat::kRegSz, type);
    char name[3];
    EXPECT_EQ(static_cast<long>(plat::kErrorMoreData), plat::RegEnumKeyA(key, 1, name, 3));
    EXPECT_EQ(static_cast<long>(plat::kErrorNoMoreItems), plat::RegEnumKeyA(key, 3, name, 3));
    plat::Hkey sub = 0;
    EXPECT_EQ(0, plat::RegOpenKeyExA(key, "alpha", 0, plat::kKeyRead, &sub));
    EXPECT_EQ(0, plat::RegCloseKey(sub));
    EXPECT_EQ(0, plat::RegCloseKey(key));
    EXPECT_NE(0, plat::RegCloseKey(key));
}

}  // namespace
