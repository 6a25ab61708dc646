// Unloading the library: a probe process loads it by file name, creates
// ports and frees it again. The probe has its own Open, Read, Write, Close
// and DeleteAllLayerItems, which must never run in place of the library's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/support/TestSupport.h"

using testing_support::LogBodies;
using testing_support::RunProgram;

namespace {

TEST(Unload, ProcessDetachLogsAndDeletesThePortsAndAReloadStartsAfresh) {
    testing_support::TempDir dir;
    std::string log = dir.File("unload.log");
    std::string output;
    ASSERT_EQ(0, RunProgram({UNLOAD_PROBE_FILE, SORLINK_LIBRARY_FILE, log}, {}, &output)) << output;
    EXPECT_EQ(
        "created 1 2\n"
        "ReadFIFO 206\n"
        "unloaded yes\n"
        "reloaded GetIDPort 5\n"
        "created 1 after reload\n"
        "unloaded yes\n",
        output);

    std::vector<std::string> bodies = LogBodies(log);
    const std::vector<std::string> detach = {
        "Main -  Process detach",
        "DeleteAllLayerItems -  Destroying all the communication ports and items associated...",
    };
    auto at = std::search(bodies.begin(), bodies.end(), detach.begin(), detach.end());
    ASSERT_NE(bodies.end(), at) << testing_support::ReadFile(log);
    // Logged once: the second unload had no current port.
    EXPECT_EQ(1, std::count(bodies.begin(), bodies.end(), detach[0]));
    // After the first unload come only the second load's lines.
    EXPECT_EQ("CreateCommunicationPort-  START", *(at + 2));
    EXPECT_EQ("DeleteCommunicationPort Deleting object with ID 2 ", bodies.back());
}

// Each cycle parses a one-entry registry file and fills the tables of open
// handles; before the unload freed them, every cycle left about 2.8 KB.
TEST(Unload, ThousandFailedOpensBetweenLoadsKeepHeapAndDescriptorsFlat) {
    testing_support::TempDir dir;
    std::string registry = dir.File("registry.reg");
    testing_support::WriteFile(registry,
                               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                               "\"" +
                                   dir.File("no-such-tty") + "\"=\"COM1\"\n");
    std::string output;
    ASSERT_EQ(0, RunProgram({RELOAD_PROBE_FILE, SORLINK_LIBRARY_FILE, "1000"},
                            {"SORLINK_REGISTRY=" + registry}, &output))
        << output;
    long heapGrowth = -1, descriptorGrowth = -1;
    ASSERT_EQ(2, std::sscanf(output.c_str(), "heap grew by %ld bytes\ndescriptors grew by %ld",
                             &heapGrowth, &descriptorGrowth))
        << output;
    EXPECT_EQ(0, descriptorGrowth);
    // A few kilobytes in all: the C library's loader keeps a little more
    // as the count of loads grows, not a fixed amount per load.
    EXPECT_LT(heapGrowth, 16 * 1000) << output;
}

}  // namespace
