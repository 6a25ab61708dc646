// Ports, IDs, the current port and their log lines, through the exported API.
#include <gtest/gtest.h>

#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/TestSupport.h"

using testing_support::LogHas;
using testing_support::TempDir;

namespace {

class PortApi : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        DeleteAllLayerItems();
    }
    void TearDown() override { DeleteAllLayerItems(); }

    int Create(int linkType, const std::string& log, int mask = LOG_TRACE | LOG_INFO | LOG_ERROR) {
        int id = 0;
        EXPECT_EQ(0, CreateCommunicationPort(linkType, LOG_MODE_FILE, mask, log.c_str(), &id));
        return id;
    }
    TempDir dir;
};

TEST_F(PortApi, IdsRunOnAcrossDeleteAllAndAreNeverReused) {
    int first = Create(0, dir.File("a.log"));
    int second = Create(0, dir.File("a.log"));
    EXPECT_EQ(first + 1, second);
    EXPECT_EQ(0, DeleteAllLayerItems());
    int third = Create(0, dir.File("a.log"));
    EXPECT_EQ(second + 1, third);
}

TEST_F(PortApi, NullPortIdAllocatesNothingAndKeepsTheCounter) {
    int before = Create(0, dir.File("a.log"));
    EXPECT_EQ(5, CreateCommunicationPort(0, 0, 0, nullptr, nullptr));
    EXPECT_EQ(before + 1, Create(0, dir.File("a.log")));
}

TEST_F(PortApi, OutOfRangeLinkTypesAreStoredAsSerial) {
    for (int linkType : {7, -1}) {
        Create(linkType, dir.File("a.log"));
        int status = -5;
        EXPECT_EQ(0, GetLayerStatus(&status));
        EXPECT_EQ(0, status);
    }
}

TEST_F(PortApi, DeletingAnotherPortLogsInTheCurrentPortsLog) {
    int b = Create(1, dir.File("b.log"));
    int a = Create(0, dir.File("a.log"));
    ASSERT_EQ(0, DeleteCommunicationPort(b));
    EXPECT_TRUE(LogHas(dir.File("a.log"), "DeleteCommunicationPort Deleting object with ID " +
                                              std::to_string(b) + " "));
    int current = 0;
    EXPECT_EQ(0, GetIDPort(&current));
    EXPECT_EQ(a, current);
    ASSERT_EQ(0, DeleteCommunicationPort(a));
    EXPECT_EQ(5, GetIDPort(&current));
    EXPECT_EQ(6, DeleteCommunicationPort(a));
    EXPECT_EQ(4, SetCommunicationPort(a));
}

}  // namespace
