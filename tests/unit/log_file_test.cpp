// The per-port log: creation, modes, mask, line format and limits. Mostly
// through the exported API; the line limits through the log class itself,
// as no entry point of the layer writes lines that long.
#include <gtest/gtest.h>

#include <string>

#include "comlayer/log/CSvLogFile.h"
#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/TestSupport.h"

using testing_support::FileExists;
using testing_support::LogBodies;
using testing_support::LogHas;
using testing_support::ReadFile;
using testing_support::ReadLines;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const char kCreated[] = " =====================Log file succesfully created=====================";

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetDefaultLogPath(dir.File("default.log"));
        DeleteAllLayerItems();
    }
    void TearDown() override { DeleteAllLayerItems(); }

    int Create(int mode, int mask, const char* path) {
        int id = 0;
        EXPECT_EQ(0, CreateCommunicationPort(0, mode, mask, path, &id));
        return id;
    }
    TempDir dir;
};

TEST_F(LogFile, StampHasFourDigitMillisecondsAndOneBlankEachSide) {
    fake::SetLocalTime(plat::SystemTime{2024, 5, 1, 6, 7, 8, 9, 5});
    Create(LOG_MODE_FILE, LOG_TRACE, dir.File("a.log").c_str());
    EXPECT_EQ(
        "[2024/05/06 07:08:09:0005] CreateCommunicationPort-  START\n"
        "[2024/05/06 07:08:09:0005] CreateCommunicationPort -  END\n",
        ReadFile(dir.File("a.log")));

    fake::SetLocalTime(plat::SystemTime{1999, 12, 5, 31, 23, 59, 59, 999});
    int id = 0;
    GetIDPort(&id);
    fake::SetLocalTime(plat::SystemTime{2024, 5, 1, 6, 7, 8, 9, 42});
    Create(LOG_MODE_FILE, LOG_INFO, dir.File("b.log").c_str());
    EXPECT_EQ(std::string("[2024/05/06 07:08:09:0042] ") + kCreated + "\n",
              ReadFile(dir.File("b.log")));
}

TEST_F(LogFile, CreationLineIsWrittenOnlyWithLogInfo) {
    Create(LOG_MODE_FILE, LOG_INFO, dir.File("info.log").c_str());
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_ERROR, dir.File("trace.log").c_str());
    EXPECT_EQ(std::vector<std::string>{kCreated}, LogBodies(dir.File("info.log")));
    std::vector<std::string> trace = LogBodies(dir.File("trace.log"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ("CreateCommunicationPort-  START", trace.front());
}

TEST_F(LogFile, MaskZeroCreatesAnEmptyFile) {
    Create(LOG_MODE_FILE, 0, dir.File("a.log").c_str());
    int id = 0;
    GetIDPort(&id);
    DeleteCommunicationPort(99);
    DeleteAllLayerItems();
    EXPECT_TRUE(FileExists(dir.File("a.log")));
    EXPECT_EQ("", ReadFile(dir.File("a.log")));
}

TEST_F(LogFile, ASharedFileIsCreatedOnceAndKeepsEveryPortsLines) {
    std::string path = dir.File("shared.log");
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path.c_str());
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path.c_str());
    std::vector<std::string> expected = {
        kCreated,
        "CreateCommunicationPort-  START",
        "CreateCommunicationPort -  END",
        "CreateCommunicationPort-  START",
        "CreateCommunicationPort -  END",
    };
    EXPECT_EQ(expected, LogBodies(path));
}

TEST_F(LogFile, AnExistingFileIsAppendedToNeverEmptied) {
    std::string path = dir.File("old.log");
    WriteFile(path, "earlier line\n");
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path.c_str());
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("earlier line", lines[0]);
    EXPECT_FALSE(LogHas(path, kCreated));
}

TEST_F(LogFile, NullOrEmptyPathLogsToTheDefaultPathWithoutTheCreationLine) {
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, nullptr);
    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, "");
    std::vector<std::string> expected = {
        "CreateCommunicationPort-  START",
        "CreateCommunicationPort -  END",
        "CreateCommunicationPort-  START",
        "CreateCommunicationPort -  END",
    };
    EXPECT_EQ(expected, LogBodies(dir.File("default.log")));
}

TEST_F(LogFile, PathsOf200CharactersOrMoreAreRefused) {
    std::string prefix = dir.Path() + "/";
    if (prefix.size() > 150) GTEST_SKIP() << "temporary folder path too long: " << prefix;
    std::string longest = prefix + std::string(199 - prefix.size(), 'p');
    std::string tooLong = prefix + std::string(200 - prefix.size(), 'q');
    ASSERT_EQ(199u, longest.size());

    Create(LOG_MODE_FILE, LOG_INFO, longest.c_str());
    EXPECT_TRUE(LogHas(longest, kCreated));

    Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, tooLong.c_str());
    EXPECT_FALSE(FileExists(tooLong));
    EXPECT_FALSE(FileExists(tooLong.substr(0, 199)));
    // The port still works and logs where a port without a path logs.
    EXPECT_TRUE(LogHas(dir.File("default.log"), "CreateCommunicationPort -  END"));

    std::string huge(100000, 'h');
    Create(LOG_MODE_FILE, LOG_TRACE, huge.c_str());
}

TEST_F(LogFile, AFileThatCannotBeCreatedDoesNotFailThePort) {
    std::string path = dir.File("missing-folder/a.log");
    int id = Create(LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path.c_str());
    EXPECT_GT(id, 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.File("default.log")));
    int current = 0;
    EXPECT_EQ(0, GetIDPort(&current));
}

TEST_F(LogFile, DebuggerModeTouchesNoFile) {
    fake::SetLocalTime(plat::SystemTime{2024, 5, 1, 6, 7, 8, 9, 123});
    Create(LOG_MODE_DEBUGGER, LOG_TRACE | LOG_INFO, dir.File("a.log").c_str());
    Create(LOG_MODE_DEBUGGER, LOG_TRACE | LOG_INFO, nullptr);
    EXPECT_FALSE(FileExists(dir.File("a.log")));
    EXPECT_FALSE(FileExists(dir.File("default.log")));
    std::string line = "[2024/05/06 07:08:09:0123] CreateCommunicationPort-  START\n";
    std::string output = fake::DebugOutput();
    EXPECT_EQ(0u, output.find(line));
    EXPECT_EQ(std::string::npos, output.find("succesfully created"));
}

TEST_F(LogFile, ModesOtherThanFileAndDebuggerWriteNothing) {
    for (int mode : {LOG_MODE_NONE, 3, -1}) {
        Create(mode, 0xFF, dir.File("a.log").c_str());
        int id = 0;
        GetIDPort(&id);
    }
    EXPECT_FALSE(FileExists(dir.File("a.log")));
    EXPECT_FALSE(FileExists(dir.File("default.log")));
    EXPECT_EQ("", fake::DebugOutput());
}

class LogLines : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetLocalTime(plat::SystemTime{2024, 5, 1, 6, 7, 8, 9, 5});
        log.Configure(LOG_MODE_FILE, LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR);
        ASSERT_EQ(1, log.OpenFile(path.c_str()));
    }
    TempDir dir;
    std::string path = dir.File("lines.log");
    CSvLogFile log;
};

TEST_F(LogLines, PercentSignsAndFormatDirectivesAreWrittenLiterally) {
    log.Write("P%s - ", "100% done %n%n %s %d %x\n", LOG_INFO);
    log.Writef("Q - ", LOG_INFO, "name %s\n", "%n%s%%");
    EXPECT_TRUE(LogHas(path, "P%s -  100% done %n%n %s %d %x"));
    EXPECT_TRUE(LogHas(path, "Q -  name %n%s%%"));
}

TEST_F(LogLines, LongLinesAreCutToTheBufferKeepingTheirLineFeed) {
    log.Write("Long - ", (std::string(400, 'x') + "\n").c_str(), LOG_INFO);
    log.Write("Next - ", "line\n", LOG_INFO);
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(298u, lines[1].size());  // 299 characters with the line feed
    EXPECT_EQ(std::string(298 - 35, 'x'), lines[1].substr(35));
    EXPECT_EQ("Next -  line", testing_support::WithoutStamp(lines[2]));

    // A message without a line feed stays without one when cut.
    log.Write("Long - ", std::string(400, 'y').c_str(), LOG_INFO);
    std::string text = ReadFile(path);
    EXPECT_EQ('y', text.back());
}

TEST_F(LogLines, OnlyEnabledLevelsAreWritten) {
    log.Configure(LOG_MODE_FILE, LOG_ERROR);
    log.Write("A - ", "info\n", LOG_INFO);
    log.Write("A - ", "error\n", LOG_ERROR);
    const unsigned char bytes[] = {0x1b, 0x40};
    log.DumpBytes("A - ", "SendBuffer", bytes, 2, 0);
    EXPECT_EQ((std::vector<std::string>{kCreated, "A -  error"}), testing_support::LogBodies(path));

    log.Configure(LOG_MODE_FILE, LOG_DATA);
    log.DumpBytes("A - ", "SendBuffer", bytes, 2, 16);
    std::vector<std::string> bodies = LogBodies(path);
    ASSERT_EQ(4u, bodies.size());
    EXPECT_EQ("A -  SendBuffer[0x10]=0x1b ", bodies[2]);
    EXPECT_EQ("A -  SendBuffer[0x11]=0x40 ", bodies[3]);
}

TEST_F(LogLines, NullTextsAreWrittenAsEmpty) {
    log.Write(nullptr, nullptr, LOG_INFO);
    log.Write(nullptr, "x\n", LOG_INFO);
    std::string text = ReadFile(path);
    EXPECT_NE(std::string::npos,
              text.find("[2024/05/06 07:08:09:0005]  [2024/05/06 07:08:09:0005]  x\n"));
}

}  // namespace
