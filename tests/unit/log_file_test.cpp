// The per-port log: creation, modes, mask, line format and limits. Mostly
// through the exported API; the line limits through the log class itself,
// as no entry point of the layer writes lines that long.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "comlayer/log/CSvLogFile.h"
#include "platform/system.h"
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

// A dump as one Writef per byte wrote it, at the LogLines clock.
std::string LinePerLineDump(const char* prefix, const std::string& bytes, unsigned firstIndex) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char line[300];
        std::snprintf(line, sizeof line,
                      "[2024/05/06 07:08:09:0005] %s SendBuffer[0x%02x]=0x%02x \n", prefix,
                      firstIndex + static_cast<unsigned>(i), static_cast<unsigned char>(bytes[i]));
        text += line;
    }
    return text;
}

const unsigned char* Bytes(const std::string& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 37 + i / 256);
    return bytes;
}

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
    // 35 characters come before the message (stamp, blank, "Long - ",
    // blank). A line of 299 characters fits; 300, 301 and 436 are cut to 299.
    for (std::size_t whole : {299, 300, 301, 436}) {
        log.Write("Long - ", (std::string(whole - 36, 'x') + "\n").c_str(), LOG_INFO);
    }
    log.Write("Next - ", "line\n", LOG_INFO);
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(6u, lines.size());
    for (std::size_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(std::string(263, 'x'), lines[i].substr(35)) << "line " << i;
    }
    EXPECT_EQ("Next -  line", testing_support::WithoutStamp(lines[5]));

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

// A dump is appended in batches of whole lines, each line as it was when
// every byte had its own open-append-close, and the log keeps the caller's
// last error although the platform's open sets one (183 on Windows).
TEST_F(LogLines, ADumpGivesTheSameLinesWithFewAppends) {
    std::string created = ReadFile(path);
    std::string bytes = Pattern(3000);
    int appends = fake::CallCount("AppendToLogFile");
    plat::SetLastError(1234);
    log.DumpBytes("CSvComEth::WriteTCP - ", "SendBuffer", Bytes(bytes), 3000, 0xff0);
    log.Write("Next - ", "line\n", LOG_INFO);
    EXPECT_EQ(1234u, plat::GetLastError());
    EXPECT_EQ(created + LinePerLineDump("CSvComEth::WriteTCP - ", bytes, 0xff0) +
                  "[2024/05/06 07:08:09:0005] Next -  line\n",
              ReadFile(path));
    // 3000 lines of 75 characters take four batches; then the next line.
    EXPECT_EQ(5, fake::CallCount("AppendToLogFile") - appends);

    // Nothing is held open: a deleted file is created again by the next line.
    ASSERT_EQ(0, std::remove(path.c_str()));
    log.DumpBytes("A - ", "SendBuffer", Bytes(bytes), 2, 0);
    EXPECT_EQ(LinePerLineDump("A - ", bytes.substr(0, 2), 0), ReadFile(path));

    CSvLogFile debugger;
    debugger.Configure(LOG_MODE_DEBUGGER, LOG_DATA);
    debugger.DumpBytes("A - ", "SendBuffer", Bytes(bytes), 3, 0);
    EXPECT_EQ(LinePerLineDump("A - ", bytes.substr(0, 3), 0), fake::DebugOutput());
}

TEST_F(LogLines, PortsDumpingIntoOneFileAtOnceLeaveOnlyWholeLines) {
    CSvLogFile other;
    other.Configure(LOG_MODE_FILE, LOG_DATA);
    ASSERT_EQ(1, other.OpenFile(path.c_str()));
    std::string bytes = Pattern(4000);
    std::string created = ReadFile(path);
    std::thread second([&] { other.DumpBytes("B - ", "SendBuffer", Bytes(bytes), 4000, 0); });
    log.DumpBytes("A - ", "SendBuffer", Bytes(bytes), 4000, 0);
    second.join();

    // However the batches fell, each port's lines are whole and in order.
    std::string text = ReadFile(path).substr(created.size());
    std::string a, b;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        ASSERT_NE(std::string::npos, end);
        std::string line = text.substr(start, end - start + 1);
        (line.compare(27, 4, "A - ") == 0 ? a : b) += line;
    }
    EXPECT_TRUE(a == LinePerLineDump("A - ", bytes, 0));
    EXPECT_TRUE(b == LinePerLineDump("B - ", bytes, 0));
}

TEST_F(LogLines, NullTextsAreWrittenAsEmpty) {
    log.Write(nullptr, nullptr, LOG_INFO);
    log.Write(nullptr, "x\n", LOG_INFO);
    std::string text = ReadFile(path);
    EXPECT_NE(std::string::npos,
              text.find("[2024/05/06 07:08:09:0005]  [2024/05/06 07:08:09:0005]  x\n"));
}

}  // namespace
