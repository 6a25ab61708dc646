// A TCP printer that resets the connection at random points of long writes:
// each Write either hands all its bytes to the connection or returns a
// failure, and what the printer received on each connection is the written
// data from a piece boundary on, in order, with nothing skipped or corrupted.
//
// "Handed to the connection" is all a TCP sender can know: bytes still in
// its send buffer or in the printer's receive buffer when the printer resets
// are lost after the write has returned 0. So a write must fail when the
// reset came earlier than its end by more than those buffers can hold.
#include <gtest/gtest.h>

#include <algorithm>
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

// Bytes that differ from write to write and from one position to the next,
// so that a repeated or shifted run of them shows.
std::string Pattern(int seed, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(seed);
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 16777619u + 0x9e3779b9u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Where a connection's bytes sit in everything the round wrote.
struct Span {
    std::size_t from;
    std::size_t to;
};

// The most a sender's socket buffer holds on this machine (autotuned up to
// the largest send buffer), plus the printer's small receive buffer.
std::size_t InFlightLimit() {
    long least = 0, initial = 0, largest = 4 << 20;
    if (FILE* limits = std::fopen("/proc/sys/net/ipv4/tcp_wmem", "r")) {
        if (std::fscanf(limits, "%ld %ld %ld", &least, &initial, &largest) != 3) largest = 4 << 20;
        std::fclose(limits);
    }
    return static_cast<std::size_t>(largest) + (64u << 10);
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
        std::string all;
        int outcome[kWritesPerRound];
        for (int w = 0; w < kWritesPerRound; ++w) {
            std::string data = Pattern(round * kWritesPerRound + w, kWriteSize);
            outcome[w] = Write(reinterpret_cast<const unsigned char*>(data.data()),
                               static_cast<int>(data.size()));
            ++results[outcome[w]];
            all += data;
        }
        Close();
        std::vector<std::string> connections = printer.TakeConnections(10);
        ASSERT_FALSE(connections.empty()) << "round " << round;
        reconnections += static_cast<int>(connections.size()) - 1;

        // Each connection carries a run of the round's bytes, unchanged and
        // in order: the first from the first byte, a later one from a piece
        // boundary further on.
        std::vector<Span> spans;
        for (std::size_t c = 0; c < connections.size(); ++c) {
            const std::string& got = connections[c];
            std::size_t from = 0;
            if (c > 0) {
                if (got.empty()) continue;
                from = all.find(got.substr(0, 64));
                ASSERT_NE(std::string::npos, from) << "round " << round << " connection " << c;
                EXPECT_EQ(0u, from % kPacketSize) << "round " << round;
                EXPECT_GT(from, spans.back().from) << "round " << round << ": went back";
            }
            ASSERT_LE(from + got.size(), all.size()) << "round " << round;
            ASSERT_TRUE(all.compare(from, got.size(), got) == 0)
                << "round " << round << " connection " << c << ": reordered or corrupted";
            spans.push_back(Span{from, from + got.size()});
        }
        // A write reported as done reached the printer whole, but for what
        // the buffers held when the printer reset.
        for (int w = 0; w < kWritesPerRound; ++w) {
            if (outcome[w] != 0) continue;
            std::size_t next = w * kWriteSize;
            for (const Span& span : spans) {
                if (span.from <= next && span.to > next) next = span.to;
            }
            EXPECT_LE((w + 1) * kWriteSize - std::min(next, (w + 1) * kWriteSize), InFlightLimit())
                << "round " << round << " write " << w << " succeeded, yet the printer lacks byte "
                << next << " (reset after " << resetAfter << ")";
        }
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
