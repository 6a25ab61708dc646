// The cost of an entry point with logging off (GetIDPort, GetPacketSize), in
// nanoseconds per call, against an exported function that does nothing.
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "sorlink.h"

extern "C" int BenchEmptyExport(int* out);

namespace bench {

namespace {

constexpr int kCalls = 5000000;

template <typename Call>
double NanosecondsPerCall(const Options& options, Call call) {
    std::vector<double> samples;
    for (int k = 0; k < options.repetitions; ++k) {
        samples.push_back(MillisecondsOf([&] {
            for (int i = 0; i < kCalls; ++i) call();
        }));
    }
    return Median(samples) * 1e6 / kCalls;
}

}  // namespace

void CallOverhead(const Options& options) {
    int id = 0;
    if (CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_NONE, 0, nullptr, &id) != 0) {
        std::printf("cannot create a port\n");
        return;
    }
    int value = 0, writeSize = 0, readSize = 0;
    double empty = NanosecondsPerCall(options, [&] { BenchEmptyExport(&value); });
    double getId = NanosecondsPerCall(options, [&] { GetIDPort(&value); });
    double getPacket = NanosecondsPerCall(options, [&] { GetPacketSize(&writeSize, &readSize); });
    DeleteAllLayerItems();
    std::printf("%d calls, %d repetitions, medians\n", kCalls, options.repetitions);
    std::printf("  empty export:   %6.2f ns/call\n", empty);
    std::printf("  GetIDPort:      %6.2f ns/call  (%.1f x the empty export)\n", getId,
                getId / empty);
    std::printf("  GetPacketSize:  %6.2f ns/call  (%.1f x the empty export)\n", getPacket,
                getPacket / empty);
}

}  // namespace bench
