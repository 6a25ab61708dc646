// The real shared library, loaded the way a POS application loads it.
#include <gtest/gtest.h>

#include "sorlink.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(Library, CreatesAPortAndWritesItsLog) {
    testing_support::TempDir dir;
    std::string log = dir.File("layer.log");
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(0, LOG_MODE_FILE, LOG_TRACE | LOG_INFO, log.c_str(), &id));
    EXPECT_GT(id, 0);
    EXPECT_TRUE(testing_support::LogHas(log, "CreateCommunicationPort-  START"));
    EXPECT_TRUE(testing_support::LogHas(log, "CreateCommunicationPort -  END"));
    EXPECT_EQ(0, VbDeleteAllLayerItems());
}

}  // namespace
