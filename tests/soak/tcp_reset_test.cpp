// A TCP printer that resets the connection at random points of long writes:
// each Write either delivers all its bytes or returns a failure. What the
// printer received over all connections is the written data in order: a
// write that returned 0 whole and once, a failed one at most in part.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tests/soak/soak_support.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kRounds = 40;
constexpr int kWritesPerRound = 2;
constexpr std::size_t kWriteSize = 6u << 20;  // beyond what the socket buffers hold
constexpr int kPacketSize = 4096;
constexpr auto kTimeLimit = std::chrono::seconds(40);

std::string Pattern(int seed, std::size_t size) {
    return testing_support::SeededPattern(static_cast<std::uint32_t>(seed), size);
}

// A round: the printer resets once it has read `resetAfter` bytes, while the
// caller writes two blocks on one opened port. A write after the reset
// meets a dead connection, which the library makes again.
TEST(TcpResets, EveryWriteDeliversAllOrFailsAndThePrinterOnlyEverSeesInOrderData) {
    DeleteAllLayerItems();
    testing_support::TempDir dir;
    soak::ResettingPrinter printer;
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, LOG_ERROR,
                                         dir.File("reset.log").c_str(), &id));
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", printer.Port()));
    ASSERT_EQ(0, SetEthTimeout(5000, 5000));
    ASSERT_EQ(0, SetPacketSize(kPacketSize, kPacketSize));

    std::mt19937 random(20261208);
    auto start = std::chrono::steady_clock::now();
    soak::Figures first{};
    std::map<int, int> results;
    int reconnections = 0;
    int round = 0;
    for (; round < kRounds && std::chrono::steady_clock::now() - start < kTimeLimit; ++round) {
        // One round in four the printer reads everything.
        bool resets = round % 4 != 3;
        std::size_t resetAfter = resets ? std::uniform_int_distribution<std::size_t>(
                                              0, kWriteSize * kWritesPerRound / 2)(random)
                                        : SIZE_MAX;
        printer.PlanReset(resetAfter);
        ASSERT_EQ(0, Open()) << "round " << round;
        int outcome[kWritesPerRound];
        for (int w = 0; w < kWritesPerRound; ++w) {
            std::string data = Pattern(round * kWritesPerRound + w, kWriteSize);
            outcome[w] = Write(reinterpret_cast<const unsigned char*>(data.data()),
                               static_cast<int>(data.size()));
            ++results[outcome[w]];
        }
        Close();
        std::vector<std::string> connections = printer.TakeConnections(10);
        ASSERT_FALSE(connections.empty()) << "round " << round;
        reconnections += static_cast<int>(connections.size()) - 1;

        std::string stream;
        for (const std::string& got : connections) stream += got;
        std::vector<testing_support::SentJob> sent;
        for (int w = 0; w < kWritesPerRound; ++w) {
            sent.push_back({Pattern(round * kWritesPerRound + w, kWriteSize), outcome[w] == 0});
        }
        ASSERT_EQ("", testing_support::StreamMismatch(stream, sent))
            << "round " << round << " (reset after " << resetAfter << ")";
        if (round == 0) first = soak::Measure();
    }
    soak::Figures end = soak::Measure();
    // Resident memory is not compared here: it is the test's own 12 MiB
    // rounds of data that the allocator keeps.
    std::printf("[ figures  ] tcp resets: descriptors %d -> %d\n", first.descriptors,
                end.descriptors);
    std::printf("[ figures  ] tcp resets: %d rounds, %d reconnections; results:", round,
                reconnections);
    for (const auto& counted : results) std::printf(" %d x%d", counted.first, counted.second);
    std::printf("\n");
    EXPECT_GE(round, 10) << "too few rounds within the time limit";
    EXPECT_EQ(first.descriptors, end.descriptors);
    DeleteAllLayerItems();
}

}  // namespace
