// An Ethernet port on the fake sockets, with its log in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"
#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_socket.h"
#include "tests/support/TestSupport.h"

class EthernetPort : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        DeleteAllLayerItems();
        CreatePort(LOG_TRACE | LOG_INFO | LOG_ERROR);
    }
    void TearDown() override { DeleteAllLayerItems(); }

    void CreatePort(int mask) {
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(1, LOG_MODE_FILE, mask, Log().c_str(), &id));
    }
    std::string Log() const { return dir.File("eth.log"); }
    // True when some log line holds text (timestamps aside).
    bool Logged(const std::string& text) const {
        return testing_support::ReadFile(Log()).find(text) != std::string::npos;
    }
    int LastError() {
        int error = -1;
        EXPECT_EQ(0, GetLastErrorComm(&error));
        return error;
    }
    void OpenTcp() {
        ASSERT_EQ(0, InitEthTCP("127.0.0.1", 9100));
        ASSERT_EQ(0, Open());
    }
    void OpenUdp(const char* address = "127.0.0.1") {
        ASSERT_EQ(0, InitEthUDP(address, 5000, 5001));
        ASSERT_EQ(0, Open());
    }
    static std::string Pattern(int size) {
        std::string bytes(static_cast<std::size_t>(size), '\0');
        for (int i = 0; i < size; ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<char>(i * 7 + i / 251);
        return bytes;
    }
    static int WriteText(const std::string& bytes) {
        return Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    }

    testing_support::TempDir dir;
};
