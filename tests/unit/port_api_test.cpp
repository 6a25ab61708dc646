// Ports, IDs, the current port and their log lines, through the exported API.
#include <gtest/gtest.h>

#include <algorithm>

#include "comlayer/port/PortLayer.h"
#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/TestSupport.h"

using testing_support::LogBodies;
using testing_support::LogHas;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class PortApi : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetDefaultLogPath(dir.File("default.log"));
        // A fresh library: as if it had just been loaded.
        DeleteAllLayerItems();
        SorlinkMain(0);
        SorlinkMain(1);
    }
    void TearDown() override { DeleteAllLayerItems(); }

    int Create(int linkType, const std::string& log, int mask = LOG_TRACE | LOG_INFO | LOG_ERROR) {
        int id = 0;
        EXPECT_EQ(0, CreateCommunicationPort(linkType, LOG_MODE_FILE, mask, log.c_str(), &id));
        return id;
    }
    int CurrentId() {
        int id = -1;
        return GetIDPort(&id) == 0 ? id : -1;
    }
    TempDir dir;
};

TEST_F(PortApi, IdsStartAtOneAndAreNeverReusedAfterDeleteAll) {
    EXPECT_EQ(1, Create(0, dir.File("a.log")));
    EXPECT_EQ(2, Create(0, dir.File("a.log")));
    EXPECT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(3, Create(0, dir.File("a.log")));
    ASSERT_EQ(0, DeleteCommunicationPort(3));
    EXPECT_EQ(4, Create(0, dir.File("a.log")));
}

TEST_F(PortApi, NullPortIdAllocatesNothingAndKeepsTheCounter) {
    EXPECT_EQ(
        5, CreateCommunicationPort(0, LOG_MODE_FILE, LOG_INFO, dir.File("x.log").c_str(), nullptr));
    EXPECT_FALSE(testing_support::FileExists(dir.File("x.log")));
    EXPECT_EQ(5, GetIDPort(nullptr));
    EXPECT_EQ(1, Create(0, dir.File("a.log")));
}

TEST_F(PortApi, LinkTypesOutsideZeroToTwoAreStoredAsSerial) {
    for (int linkType : {0, 1, 2, 7, -1, 3}) {
        Create(linkType, dir.File("a.log"));
        int status = -5;
        EXPECT_EQ(0, GetLayerStatus(&status));
        EXPECT_EQ(linkType >= 0 && linkType <= 2 ? linkType : 0, status) << linkType;
    }
    EXPECT_TRUE(LogHas(dir.File("a.log"), "GetLayerStatus -  Current communication status: 2 "));
}

TEST_F(PortApi, NewestPortIsCurrentUntilAnotherIsSelected) {
    int a = Create(1, dir.File("a.log"));
    int b = Create(2, dir.File("b.log"));
    EXPECT_EQ(b, CurrentId());
    EXPECT_TRUE(LogHas(dir.File("b.log"), "GetIDPort -  Current ID port configured: 2 "));

    ASSERT_EQ(0, SetCommunicationPort(a));
    EXPECT_EQ(a, CurrentId());
    int linkType = -1;
    EXPECT_EQ(0, GetLayerStatus(&linkType));
    EXPECT_EQ(1, linkType);
    // The selection is logged by the port that was current before it.
    EXPECT_TRUE(LogHas(dir.File("b.log"),
                       "SetCommunicationPort -  Communication ID will be "
                       "setted to 1 "));
    EXPECT_FALSE(LogHas(dir.File("a.log"),
                        "SetCommunicationPort -  Communication ID will be "
                        "setted to 1 "));
}

TEST_F(PortApi, CreationLogsStartAndEndInTheNewPortsLog) {
    Create(0, dir.File("a.log"));
    std::vector<std::string> expected = {
        " =====================Log file succesfully created=====================",
        "CreateCommunicationPort-  START",
        "CreateCommunicationPort -  END",
    };
    EXPECT_EQ(expected, LogBodies(dir.File("a.log")));
}

TEST_F(PortApi, DeletingAnotherPortLogsInTheCurrentPortsLogAndKeepsTheCurrentPort) {
    int b = Create(1, dir.File("b.log"));
    int a = Create(0, dir.File("a.log"));
    std::string bLog = ReadFile(dir.File("b.log"));
    ASSERT_EQ(0, DeleteCommunicationPort(b));
    EXPECT_TRUE(LogHas(dir.File("a.log"), "DeleteCommunicationPort Deleting object with ID 1 "));
    EXPECT_EQ(bLog, ReadFile(dir.File("b.log")));
    EXPECT_EQ(a, CurrentId());
    EXPECT_EQ(4, SetCommunicationPort(b));
}

TEST_F(PortApi, DeletingTheCurrentPortLeavesNoCurrentPort) {
    int a = Create(0, dir.File("a.log"));
    int b = Create(1, dir.File("b.log"));
    ASSERT_EQ(0, DeleteCommunicationPort(b));
    // Written through its own log just before the log object goes.
    EXPECT_TRUE(LogHas(dir.File("b.log"), "DeleteCommunicationPort Deleting object with ID 2 "));

    std::string aLog = ReadFile(dir.File("a.log"));
    int value = -1;
    EXPECT_EQ(5, GetIDPort(&value));
    EXPECT_EQ(5, GetLayerStatus(&value));
    EXPECT_EQ(5, Open());
    EXPECT_EQ(5, Close());
    // With no current port nothing is logged anywhere, not even a miss.
    EXPECT_EQ(6, DeleteCommunicationPort(b));
    EXPECT_EQ(aLog, ReadFile(dir.File("a.log")));

    ASSERT_EQ(0, SetCommunicationPort(a));
    EXPECT_EQ(a, CurrentId());
}

TEST_F(PortApi, UnknownIdsGiveSixAndFourWithTheirErrorLines) {
    int a = Create(0, dir.File("a.log"));
    EXPECT_EQ(6, DeleteCommunicationPort(99));
    EXPECT_EQ(4, SetCommunicationPort(99));
    EXPECT_EQ(6, DeleteCommunicationPort(0));
    EXPECT_EQ(4, SetCommunicationPort(-1));
    EXPECT_EQ(a, CurrentId());
    std::vector<std::string> bodies = LogBodies(dir.File("a.log"));
    EXPECT_EQ(2,
              std::count(bodies.begin(), bodies.end(), "DeleteCommunicationPort -  ID not found"));
    EXPECT_EQ(2, std::count(bodies.begin(), bodies.end(), "SetCommunicationPort -  ID not found"));

    // The error lines are at LOG_ERROR only.
    Create(0, dir.File("quiet.log"), LOG_TRACE | LOG_INFO);
    EXPECT_EQ(6, DeleteCommunicationPort(99));
    EXPECT_FALSE(LogHas(dir.File("quiet.log"), "DeleteCommunicationPort -  ID not found"));
}

TEST_F(PortApi, DeleteAllOnAnEmptyLibraryLogsNothing) {
    EXPECT_EQ(0, DeleteAllLayerItems());
    Create(0, dir.File("a.log"));
    ASSERT_EQ(0, DeleteAllLayerItems());
    std::string before = ReadFile(dir.File("a.log"));
    EXPECT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(before, ReadFile(dir.File("a.log")));
    EXPECT_FALSE(testing_support::FileExists(dir.File("default.log")));
}

TEST_F(PortApi, DeleteAllLogsThroughTheCurrentPortAndRemovesEveryPort) {
    int a = Create(0, dir.File("a.log"));
    int b = Create(0, dir.File("b.log"));
    ASSERT_EQ(0, SetCommunicationPort(a));
    EXPECT_EQ(0, DeleteAllLayerItems());
    EXPECT_TRUE(LogHas(dir.File("a.log"),
                       "DeleteAllLayerItems -  Destroying all the communication "
                       "ports and items associated..."));
    EXPECT_FALSE(LogHas(dir.File("b.log"),
                        "DeleteAllLayerItems -  Destroying all the "
                        "communication ports and items associated..."));
    EXPECT_EQ(-1, CurrentId());
    EXPECT_EQ(4, SetCommunicationPort(a));
    EXPECT_EQ(6, DeleteCommunicationPort(b));
}

TEST_F(PortApi, VbTwinsAreTheSameEntryPoints) {
    int id = 0;
    ASSERT_EQ(
        0, VbCreateCommunicationPort(2, LOG_MODE_FILE, LOG_INFO, dir.File("vb.log").c_str(), &id));
    int current = 0, linkType = -1;
    EXPECT_EQ(0, VbGetIDPort(&current));
    EXPECT_EQ(id, current);
    EXPECT_EQ(0, VbGetLayerStatus(&linkType));
    EXPECT_EQ(2, linkType);
    EXPECT_EQ(4, VbSetCommunicationPort(id + 1));
    EXPECT_EQ(6, VbDeleteCommunicationPort(id + 1));
    EXPECT_EQ(0, VbDeleteCommunicationPort(id));
    EXPECT_EQ(0, VbDeleteAllLayerItems());
    EXPECT_EQ(5, VbGetIDPort(&current));
}

TEST_F(PortApi, UnloadWithACurrentPortLogsProcessDetachAndDeletesThePorts) {
    Create(0, dir.File("a.log"));
    Create(1, dir.File("b.log"));
    EXPECT_EQ(1, SorlinkMain(0));
    std::vector<std::string> bodies = LogBodies(dir.File("b.log"));
    ASSERT_GE(bodies.size(), 2u);
    EXPECT_EQ("Main -  Process detach", bodies[bodies.size() - 2]);
    EXPECT_EQ(
        "DeleteAllLayerItems -  Destroying all the communication ports and items associated...",
        bodies.back());
    EXPECT_EQ(1, SorlinkMain(1));
    EXPECT_EQ(-1, CurrentId());
    EXPECT_EQ(6, DeleteCommunicationPort(1));
    // A reloaded library counts from the start again.
    EXPECT_EQ(1, Create(0, dir.File("a.log")));
}

TEST_F(PortApi, UnloadWithoutACurrentPortFreesThePortsSilently) {
    Create(0, dir.File("a.log"));
    int b = Create(0, dir.File("b.log"));
    ASSERT_EQ(0, DeleteCommunicationPort(b));
    std::string before = ReadFile(dir.File("a.log"));
    EXPECT_EQ(1, SorlinkMain(0));
    EXPECT_EQ(before, ReadFile(dir.File("a.log")));
    EXPECT_EQ(1, SorlinkMain(1));
    EXPECT_EQ(4, SetCommunicationPort(1));
}

TEST_F(PortApi, AttachAndThreadNotificationsKeepThePorts) {
    int a = Create(0, dir.File("a.log"));
    for (int reason : {1, 2, 3}) EXPECT_EQ(1, SorlinkMain(reason));
    EXPECT_EQ(a, CurrentId());
    EXPECT_FALSE(LogHas(dir.File("a.log"), "Main -  Process detach"));
}

}  // namespace
