// Installed TCP printers read from the registry file, then reached on loopback.
#include <cstdlib>

#include "tests/integration/ethernet_fixture.h"

namespace {

using namespace std::chrono_literals;

class InstalledPrinters : public LoopbackEthernet {
protected:
    void SetUp() override {
        LoopbackEthernet::SetUp();
        char port[16];
        std::snprintf(port, sizeof port, "%08x", printer.Port());
        const std::string base = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\";
        testing_support::WriteFile(
            dir.File("registry.reg"),
            "Windows Registry Editor Version 5.00\n\n" + base + "Printers\\Receipt]\n" +
                "\"Port\"=\"IP_127.0.0.1\"\n\n" + base + "Printers\\Kitchen]\n" +
                "\"Port\"=\"ip_127.0.0.1\"\n\n" + base + "Printers\\Label]\n" +
                "\"Port\"=\"USB001\"\n\n" + base +
                "Monitors\\Standard TCP/IP Port\\Ports\\IP_127.0.0.1]\n" +
                "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:" + port + "\n");
        setenv("SORLINK_REGISTRY", dir.File("registry.reg").c_str(), 1);
    }
    void TearDown() override {
        LoopbackEthernet::TearDown();
        unsetenv("SORLINK_REGISTRY");
    }
    loopback::TcpPrinter printer;
};

TEST_F(InstalledPrinters, AreListedAndReachedByName) {
    char list[64];
    ASSERT_EQ(0, EthEnumPrinters(list, sizeof list));
    EXPECT_STREQ("Receipt", list);

    ASSERT_EQ(0, InitEthTCPPrinter("Receipt"));
    char address[20];
    int port = 0;
    ASSERT_EQ(0, GetEthIpAndPort(address, &port));
    EXPECT_STREQ("127.0.0.1", address);
    EXPECT_EQ(printer.Port(), port);
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, WriteText("by name"));
    ASSERT_TRUE(printer.WaitForBytes(7, 5s));
    EXPECT_EQ("by name", printer.Received());
}

TEST_F(InstalledPrinters, NamesAndPortNamesCompareWithCase) {
    EXPECT_EQ(218, InitEthTCPPrinter("receipt"));
    // Its port name matches the port key only when letter case is ignored.
    EXPECT_EQ(220, InitEthTCPPrinter("Kitchen"));
    EXPECT_EQ(220, InitEthTCPPrinter("Label"));
    EXPECT_EQ(201, Open());
}

}  // namespace

// Windows always has the spooler's keys; a machine set up with no printers,
// or with none of the kind asked, has empty lists, not a missing key.
TEST(InstalledPrinterLists, AreEmptyWithoutARegistryFileOrWithoutItsPortsKey) {
    testing_support::TempDir dir;
    testing_support::WriteFile(dir.File("printers-only.reg"),
                               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\"
                               "Control\\Print\\Printers\\Label]\n\"Port\"=\"USB001\"\n");
    for (const char* file : {"absent.reg", "printers-only.reg"}) {
        SCOPED_TRACE(file);
        setenv("SORLINK_REGISTRY", dir.File(file).c_str(), 1);
        int portId = 0;
        ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_ETHERNET, 0, 0, "", &portId));
        char list[64] = "untouched";
        EXPECT_EQ(0, EthEnumPrinters(list, sizeof list));
        EXPECT_STREQ("", list);
        EXPECT_EQ(218, InitEthTCPPrinter("Kitchen"));
        DeleteAllLayerItems();
    }
    unsetenv("SORLINK_REGISTRY");
}
