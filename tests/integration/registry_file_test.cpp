// The Linux registry: HKEY_LOCAL_MACHINE from the .reg file named by
// $SORLINK_REGISTRY, read by a probe through the real backend.
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::Utf16WithBom;
using testing_support::WriteFile;

namespace {

std::string Probe(const std::string& registryFile, const std::string& key, int* status) {
    std::string output;
    *status = RunProgram({REGISTRY_PROBE_FILE, key}, {"SORLINK_REGISTRY=" + registryFile}, &output);
    return output;
}

TEST(RegistryFile, AnExportedUtf16FileIsReadAsItStands) {
    TempDir dir;
    std::string file = dir.File("exported.reg");
    WriteFile(file, Utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\Shop]\r\n"
                                 "\"Name\"=\"Till\"\r\n"
                                 "\"Port\"=dword:00000010\r\n"
                                 "\"Path\"=hex(2):41,00,00,00\r\n"
                                 "\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\Shop\\Second]\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\Shop\\First]\r\n"));
    int status = -1;
    EXPECT_EQ(
        "key Second\n"
        "key First\n"
        "value Name 1 54696c6c00\n"
        "value Port 4 10000000\n"
        "value Path 2 4100\n"
        "open keys 0\n",
        Probe(file, "system\\shop", &status));
    EXPECT_EQ(0, status);
}

TEST(RegistryFile, NoFileOrAnUnreadableFileIsAnEmptyRegistry) {
    TempDir dir;
    int status = -1;
    EXPECT_EQ("missing\n", Probe(dir.File("absent.reg"), "SOFTWARE", &status));
    EXPECT_EQ(1, status);
    EXPECT_EQ("missing\n", Probe(dir.Path(), "SOFTWARE", &status));
    EXPECT_EQ(1, status);

    std::string binary = dir.File("binary.reg");
    std::string noise(70000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 131 % 251);
    WriteFile(binary, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Kept]\n\"v\"=dword:1\n" + noise);
    EXPECT_EQ("value v 4 01000000\nopen keys 0\n", Probe(binary, "Kept", &status));
    EXPECT_EQ(0, status);
}

}  // namespace
