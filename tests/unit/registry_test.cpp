// CRegistry's queries over the fake registry, and that each of them closes
// every key it opens, whatever fails.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comlayer/registry/CRegistry.h"
#include "platform/common/RegistryCalls.h"
#include "tests/fake/fake_platform.h"

namespace {

const plat::Hkey kHklm = plat::kHkeyLocalMachine;

// A text value of `count` characters with no terminator, as a version 5
// file writes a string in hex (UTF-16LE).
std::string UnterminatedText(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += i == 0 ? "55,00" : ",55,00";
    return "hex(1):" + bytes;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetRegistry(
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shop]\r\n"
            "\"Name\"=\"Till 1\"\r\n"
            "\"Path\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
            "\"Port\"=dword:00002382\r\n"
            "\"Negative\"=dword:ffffffff\r\n"
            "\"Blob\"=hex:01,02,03,04\r\n"
            "\"Short\"=hex(4):01,02,03\r\n" +
            std::string("\"Long\"=\"") + std::string(1024, 'L') + "\"\r\n" + "\"Longest\"=\"" +
            std::string(1023, 'M') + "\"\r\n" + "\"Unterminated\"=" + UnterminatedText(1024) +
            "\r\n" +
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shop\\Printers\\A]\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shop\\Printers\\B]\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shop\\Printers\\C]\r\n");
    }
    void TearDown() override { EXPECT_EQ(0u, plat::reg::OpenKeyCount()); }

    CRegistry registry;
};

TEST_F(Registry, ReadStringAcceptsOnlyPlainStrings) {
    char out[1024] = "untouched";
    EXPECT_EQ(1, registry.ReadString(kHklm, "SOFTWARE\\Shop", "name", out));
    EXPECT_STREQ("Till 1", out);

    std::strcpy(out, "untouched");
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Path", out));
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Port", out));
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Missing", out));
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Nowhere", "Name", out));
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Name", nullptr));
    EXPECT_STREQ("untouched", out);
}

TEST_F(Registry, ReadStringRefusesTextThatDoesNotFitWithItsTerminator) {
    char out[1024] = "untouched";
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Long", out));
    EXPECT_STREQ("untouched", out);
    // Exactly the buffer's 1024 bytes, but no room left for the terminator.
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Unterminated", out));
    EXPECT_STREQ("untouched", out);
    EXPECT_EQ(1, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Longest", out));
    EXPECT_EQ(std::string(1023, 'M'), out);
}

TEST_F(Registry, ReadDwordGivesZeroForAnythingButANumber) {
    int out = -7;
    EXPECT_EQ(1, registry.ReadDword(kHklm, "SOFTWARE\\Shop", "Port", &out));
    EXPECT_EQ(9090, out);
    EXPECT_EQ(1, registry.ReadDword(kHklm, "SOFTWARE\\Shop", "Negative", &out));
    EXPECT_EQ(-1, out);
    for (const char* name : {"Missing", "Name", "Blob", "Short"}) {
        out = -7;
        EXPECT_EQ(0, registry.ReadDword(kHklm, "SOFTWARE\\Shop", name, &out)) << name;
        EXPECT_EQ(0, out) << name;
    }
    out = -7;
    EXPECT_EQ(0, registry.ReadDword(kHklm, "SOFTWARE\\Nowhere", "Port", &out));
    EXPECT_EQ(0, out);
    EXPECT_EQ(0, registry.ReadDword(kHklm, "SOFTWARE\\Shop", "Port", nullptr));
}

TEST_F(Registry, CountsAndExistenceOfKeys) {
    EXPECT_EQ(1, registry.KeyExists(kHklm, "software\\shop\\printers"));
    EXPECT_EQ(0, registry.KeyExists(kHklm, "SOFTWARE\\Shop\\Scanners"));
    EXPECT_EQ(3, registry.GetSubKeyCount(kHklm, "SOFTWARE\\Shop\\Printers"));
    EXPECT_EQ(9, registry.GetValueCount(kHklm, "SOFTWARE\\Shop"));
    EXPECT_EQ(0, registry.GetSubKeyCount(kHklm, "SOFTWARE\\Nowhere"));
    EXPECT_EQ(0, registry.GetValueCount(kHklm, "SOFTWARE\\Nowhere"));
    EXPECT_EQ(0, registry.GetSubKeyCount(static_cast<plat::Hkey>(0x1234), "SOFTWARE"));
}

TEST_F(Registry, FailingPlatformCallsGiveZeroAndLeaveNoKeyOpen) {
    char out[1024] = "untouched";
    int number = -7;
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 2);
    EXPECT_EQ(0, registry.KeyExists(kHklm, "SOFTWARE\\Shop"));
    EXPECT_EQ(0, registry.GetSubKeyCount(kHklm, "SOFTWARE\\Shop\\Printers"));

    fake::FailCall("RegQueryValueExA", plat::kErrorAccessDenied, 2);
    EXPECT_EQ(0, registry.ReadString(kHklm, "SOFTWARE\\Shop", "Name", out));
    EXPECT_EQ(0, registry.ReadDword(kHklm, "SOFTWARE\\Shop", "Port", &number));
    EXPECT_STREQ("untouched", out);
    EXPECT_EQ(0, number);

    fake::FailCall("RegQueryInfoKeyA", plat::kErrorAccessDenied, 2);
    EXPECT_EQ(0, registry.GetSubKeyCount(kHklm, "SOFTWARE\\Shop\\Printers"));
    EXPECT_EQ(0, registry.GetValueCount(kHklm, "SOFTWARE\\Shop"));
    EXPECT_EQ(0u, plat::reg::OpenKeyCount());
    EXPECT_EQ(3, registry.GetSubKeyCount(kHklm, "SOFTWARE\\Shop\\Printers"));
}

}  // namespace
