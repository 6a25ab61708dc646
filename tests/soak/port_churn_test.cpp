// Ports created, selected and deleted at random, some of them connected to
// a loopback printer, with DeleteAllLayerItems between rounds: IDs never
// repeat, every line goes to the log of the port it is about, and nothing
// leaks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tests/soak/soak_support.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kRounds = 600;
// The allocator and the C library settle during the first rounds.
constexpr int kSettleRounds = 100;
constexpr int kStepsPerRound = 40;
constexpr auto kTimeLimit = std::chrono::seconds(20);

struct LivePort {
    int id;
    int linkType;
    std::string log;
};

TEST(PortChurn, IdsNeverRepeatLogsGoToTheirOwnFilesAndNothingLeaks) {
    DeleteAllLayerItems();
    testing_support::TempDir dir;
    soak::Acceptor printer;
    std::mt19937 random(8122026);
    // IDs are handed out in increasing order: a repeat would not be above
    // the last one. Only the round's own records are kept, so the test's
    // memory stays flat too.
    int lastId = 0;
    int ports = 0;
    int connections = 0;
    soak::Figures first{};
    auto start = std::chrono::steady_clock::now();
    int round = 0;
    for (; round < kRounds && std::chrono::steady_clock::now() - start < kTimeLimit; ++round) {
        std::vector<LivePort> live;
        std::vector<LivePort> created;
        int current = 0;
        for (int step = 0; step < kStepsPerRound; ++step) {
            int action = std::uniform_int_distribution<int>(0, 9)(random);
            if (live.empty() || action < 3) {
                int linkType = std::uniform_int_distribution<int>(-1, 3)(random);
                std::string log = dir.File("port" + std::to_string(ports % 64) + ".log");
                int id = 0;
                ASSERT_EQ(0, CreateCommunicationPort(linkType, LOG_MODE_FILE, LOG_INFO | LOG_ERROR,
                                                     log.c_str(), &id));
                ASSERT_GT(id, lastId) << "ID " << id << " handed out again";
                lastId = id;
                ++ports;
                int stored = -1;
                ASSERT_EQ(0, GetLayerStatus(&stored));
                EXPECT_EQ(linkType >= 0 && linkType <= 2 ? linkType : 0, stored);
                live.push_back(LivePort{id, stored, log});
                created.push_back(live.back());
                current = id;
                continue;
            }
            LivePort& port =
                live[std::uniform_int_distribution<std::size_t>(0, live.size() - 1)(random)];
            if (action < 5) {
                ASSERT_EQ(0, DeleteCommunicationPort(port.id));
                EXPECT_EQ(6, DeleteCommunicationPort(port.id));
                if (port.id == current) current = 0;
                live.erase(live.begin() + (&port - live.data()));
            } else if (action < 8) {
                ASSERT_EQ(0, SetCommunicationPort(port.id));
                current = port.id;
                int id = 0;
                ASSERT_EQ(0, GetIDPort(&id));
                EXPECT_EQ(port.id, id);
            } else if (current != 0 && action == 8) {
                // The current port, if Ethernet, connects and stays
                // connected: deleting it must close the socket.
                int linkType = -1;
                ASSERT_EQ(0, GetLayerStatus(&linkType));
                if (linkType == SORLINK_LINK_ETHERNET &&
                    InitEthTCP("127.0.0.1", printer.Port()) == 0 && Open() == 0) {
                    ++connections;
                }
            } else {
                int id = 0;
                EXPECT_EQ(current == 0 ? 5 : 0, GetIDPort(&id));
            }
        }
        ASSERT_EQ(0, DeleteAllLayerItems());
        int id = 0;
        EXPECT_EQ(5, GetIDPort(&id));
        // GetIDPort writes the current ID through the current port's log:
        // each log names its own port's ID and no other.
        for (const LivePort& port : created) {
            for (const std::string& line : testing_support::LogBodies(port.log)) {
                const std::string configured = "Current ID port configured: ";
                std::size_t at = line.find(configured);
                if (at == std::string::npos) continue;
                EXPECT_EQ(port.id, std::stoi(line.substr(at + configured.size())))
                    << port.log << ": " << line;
            }
            std::remove(port.log.c_str());
        }
        if (round + 1 == kSettleRounds) {
            ASSERT_TRUE(printer.WaitForClosed(connections));
            first = soak::Measure();
        }
    }
    ASSERT_TRUE(printer.WaitForClosed(connections));
    soak::Figures end = soak::Measure();
    soak::Report("port churn", first, end);
    std::printf("[ figures  ] port churn: %d rounds, %d ports, %d connections\n", round, ports,
                connections);
    EXPECT_GE(round, 20) << "too few rounds within the time limit";
    EXPECT_EQ(first.descriptors, end.descriptors);
    if (soak::ResidentMemoryIsComparable()) {
        EXPECT_LE(end.residentKiB - first.residentKiB, soak::kResidentToleranceKiB);
    }
}

}  // namespace
