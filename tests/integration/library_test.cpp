// The real shared library, loaded the way a POS application loads it, with
// its logs on the real file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "sorlink.h"
#include "tests/support/TestSupport.h"

using testing_support::FileExists;
using testing_support::LogBodies;
using testing_support::LogHas;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

const char kCreated[] = " =====================Log file succesfully created=====================";

// True when nothing was written into the FIFO read through `reader`.
bool NothingWaitingIn(int reader) {
    char byte = 0;
    return read(reader, &byte, 1) <= 0;
}

class Library : public ::testing::Test {
protected:
    void SetUp() override { DeleteAllLayerItems(); }
    void TearDown() override { DeleteAllLayerItems(); }

    int Create(int linkType, int mode, int mask, const std::string& path) {
        int id = 0;
        EXPECT_EQ(0, CreateCommunicationPort(linkType, mode, mask, path.c_str(), &id));
        return id;
    }
    TempDir dir;
};

TEST_F(Library, PortsAreNumberedSelectedAndDeletedWithTheirLogLines) {
    const int mask = LOG_TRACE | LOG_INFO | LOG_ERROR;
    int a = Create(7, LOG_MODE_FILE, mask, dir.File("a.log"));
    int b = Create(2, LOG_MODE_FILE, mask, dir.File("b.log"));
    EXPECT_EQ(a + 1, b);
    int value = -1;
    EXPECT_EQ(0, GetLayerStatus(&value));
    EXPECT_EQ(2, value);
    ASSERT_EQ(0, VbSetCommunicationPort(a));
    EXPECT_EQ(0, GetLayerStatus(&value));
    EXPECT_EQ(0, value);

    ASSERT_EQ(0, DeleteCommunicationPort(b));
    EXPECT_TRUE(LogHas(dir.File("a.log"), "DeleteCommunicationPort Deleting object with ID " +
                                              std::to_string(b) + " "));
    EXPECT_EQ(6, DeleteCommunicationPort(b));
    EXPECT_EQ(4, SetCommunicationPort(b));
    EXPECT_TRUE(LogHas(dir.File("a.log"), "DeleteCommunicationPort -  ID not found"));
    EXPECT_TRUE(LogHas(dir.File("a.log"), "SetCommunicationPort -  ID not found"));

    ASSERT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(5, GetIDPort(&value));
    EXPECT_EQ(b + 1, Create(0, LOG_MODE_FILE, mask, dir.File("a.log")));
}

TEST_F(Library, ALogFileIsCreatedOnceAndAppendedToByEveryPort) {
    std::string path = dir.File("shared.log");
    Create(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path);
    Create(1, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, path);
    std::vector<std::string> bodies = LogBodies(path);
    ASSERT_EQ(5u, bodies.size());
    EXPECT_EQ(kCreated, bodies[0]);
    EXPECT_EQ("CreateCommunicationPort -  END", bodies[4]);
    EXPECT_EQ('[', ReadFile(path)[0]);
    EXPECT_EQ(':', ReadFile(path)[20]);
    EXPECT_EQ(']', ReadFile(path)[25]);
}

TEST_F(Library, MaskZeroLeavesTheNewFileEmpty) {
    Create(0, LOG_MODE_FILE, 0, dir.File("quiet.log"));
    int id = 0;
    GetIDPort(&id);
    EXPECT_TRUE(FileExists(dir.File("quiet.log")));
    EXPECT_EQ("", ReadFile(dir.File("quiet.log")));
}

TEST_F(Library, PathsOf200CharactersOrMoreCreateNoFile) {
    std::string prefix = dir.Path() + "/";
    if (prefix.size() > 150) GTEST_SKIP() << "temporary folder path too long: " << prefix;
    std::string longest = prefix + std::string(199 - prefix.size(), 'p');
    std::string tooLong = prefix + std::string(200 - prefix.size(), 'q');
    // Mask 0: nothing may reach the default log of the machine.
    Create(0, LOG_MODE_FILE, 0, longest);
    Create(0, LOG_MODE_FILE, 0, tooLong);
    EXPECT_TRUE(FileExists(longest));
    EXPECT_FALSE(FileExists(tooLong));
    EXPECT_FALSE(FileExists(tooLong.substr(0, 199)));
}

TEST_F(Library, DebuggerModeWritesToStandardErrorOnly) {
    testing::internal::CaptureStderr();
    Create(0, LOG_MODE_DEBUGGER, LOG_TRACE | LOG_INFO, dir.File("debug.log"));
    std::string output = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(FileExists(dir.File("debug.log")));
    EXPECT_NE(std::string::npos, output.find("] CreateCommunicationPort-  START\n"));
    EXPECT_NE(std::string::npos, output.find("] CreateCommunicationPort -  END\n"));
    EXPECT_EQ(std::string::npos, output.find("succesfully created"));
}

// Standard error standing in for the debugger channel never kills nor holds
// up the caller: a pipe whose reader is gone (default SIGPIPE action), and a
// full pipe, each in a child of its own that must exit normally.
TEST_F(Library, DebuggerModeSurvivesAStandardErrorNobodyReads) {
    for (bool readerGone : {true, false}) {
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGPIPE, SIG_DFL);
            alarm(60);  // a blocked write ends the child instead of the run
            if (readerGone) {
                close(ends[0]);
            } else {
                fcntl(ends[1], F_SETFL, O_NONBLOCK);
                while (write(ends[1], "x", 1) == 1) {
                }
                fcntl(ends[1], F_SETFL, 0);
            }
            dup2(ends[1], STDERR_FILENO);
            int id = 0;
            int result = CreateCommunicationPort(0, LOG_MODE_DEBUGGER, LOG_TRACE, "", &id);
            _exit(result == 0 ? 0 : 1);
        }
        close(ends[1]);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        close(ends[0]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (readerGone ? "reader gone" : "pipe full") << ", status " << status;
    }
}

// The default log is the user's own: $XDG_STATE_HOME when it is absolute,
// else ~/.local/state, with the folders created private when missing.
TEST_F(Library, TheDefaultLogIsInTheUsersStateFolder) {
    ScopedEnv home("HOME", dir.File("home"));
    {
        ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
        Create(0, LOG_MODE_FILE, LOG_TRACE, "");
    }
    EXPECT_TRUE(LogHas(dir.File("state/sorlink/Sorlink.log"), "CreateCommunicationPort -  END"));
    struct stat folder {};
    ASSERT_EQ(0, stat(dir.File("state/sorlink").c_str(), &folder));
    EXPECT_EQ(0700u, folder.st_mode & 0777u);

    ScopedEnv relative("XDG_STATE_HOME", "state");
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(0, LOG_MODE_FILE, LOG_TRACE, nullptr, &id));
    EXPECT_TRUE(LogHas(dir.File("home/.local/state/sorlink/Sorlink.log"),
                       "CreateCommunicationPort -  END"));
}

// Nobody can plant a link or a FIFO in the default log's place, and a
// default that does not fit the path field sends the lines nowhere else.
TEST_F(Library, TheDefaultLogIsOnlyEverARegularFile) {
    ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
    ASSERT_EQ(0, mkdir(dir.File("state").c_str(), 0700));
    ASSERT_EQ(0, mkdir(dir.File("state/sorlink").c_str(), 0700));
    std::string defaultLog = dir.File("state/sorlink/Sorlink.log");
    testing_support::WriteFile(dir.File("victim"), "keep\n");
    ASSERT_EQ(0, symlink(dir.File("victim").c_str(), defaultLog.c_str()));
    Create(0, LOG_MODE_FILE, LOG_TRACE, "");
    EXPECT_EQ("keep\n", ReadFile(dir.File("victim")));

    ASSERT_EQ(0, unlink(defaultLog.c_str()));
    ASSERT_EQ(0, mkfifo(defaultLog.c_str(), 0600));
    int reader = open(defaultLog.c_str(), O_RDONLY | O_NONBLOCK);
    Create(0, LOG_MODE_FILE, LOG_TRACE, "");
    EXPECT_TRUE(NothingWaitingIn(reader));
    close(reader);

    ScopedEnv deep("XDG_STATE_HOME", dir.File(std::string(190, 's')));
    Create(0, LOG_MODE_FILE, LOG_TRACE, "");
    EXPECT_FALSE(FileExists(dir.File(std::string(190, 's'))));
}

// A FIFO or a folder the caller names takes no lines and never blocks port
// creation; a link the caller names is followed as before.
TEST_F(Library, ANamedLogThatIsNoRegularFileTakesNoLines) {
    std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    // Without a reader, opening the FIFO to see whether it exists would wait
    // for a writer for ever.
    Create(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, fifo);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    Create(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, fifo);
    EXPECT_TRUE(NothingWaitingIn(reader));
    close(reader);
    Create(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, dir.Path());

    ASSERT_EQ(0, symlink(dir.File("target.log").c_str(), dir.File("link.log").c_str()));
    Create(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, dir.File("link.log"));
    EXPECT_TRUE(LogHas(dir.File("target.log"), kCreated));
}

}  // namespace
