// An Ethernet port of the real library, with its log in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sorlink.h"
#include "tests/integration/loopback_peers.h"
#include "tests/support/TestSupport.h"

class LoopbackEthernet : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override {
        DeleteAllLayerItems();
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(1, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             dir.File("eth.log").c_str(), &id));
    }
    void TearDown() override { DeleteAllLayerItems(); }

    bool Logged(const std::string& text) const {
        return testing_support::ReadFile(dir.File("eth.log")).find(text) != std::string::npos;
    }
    static std::string Pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 256);
        return bytes;
    }
    static int WriteText(const std::string& bytes) {
        return Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    }
    static long long MillisecondsSince(Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }

    testing_support::TempDir dir;
};
