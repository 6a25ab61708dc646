// 64 MiB through the layer's Write (default 1024-byte packets, logging off)
// against a raw send loop with the same piece size, and against raw sends of
// the whole buffer at once, to the same loopback receivers in the same run. Each sample lasts until
// the receiver has every byte, so both sides pay for delivery.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "bench/Loopback.h"
#include "bench/LoopbackSink.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 64 * 1024 * 1024;
constexpr int kPieceBytes = 1024;

}  // namespace

void EthernetWrite(const Options& options) {
    std::vector<unsigned char> data(kTotalBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
    // One receiver each: a receiver serves one connection at a time.
    LoopbackSink sink;
    LoopbackSink rawSink;

    int id = 0;
    if (CreateCommunicationPort(1, LOG_MODE_NONE, 0, nullptr, &id) != 0 ||
        InitEthTCP("127.0.0.1", sink.Port()) != 0 || Open() != 0) {
        std::printf("cannot open the layer's port\n");
        return;
    }
    int raw = ConnectToLoopback(rawSink.Port());
    if (raw < 0) {
        std::printf("cannot connect the raw socket\n");
        DeleteAllLayerItems();
        return;
    }

    std::vector<double> layerMs;
    std::vector<double> rawMs;
    std::vector<double> wholeMs;
    bool ok = true;
    // Alternate the two so that both see the same machine load.
    for (int k = 0; k < options.repetitions && ok; ++k) {
        layerMs.push_back(MillisecondsOf(
            [&] { ok = Write(data.data(), kTotalBytes) == 0 && sink.WaitFor(kTotalBytes) && ok; }));
        rawMs.push_back(MillisecondsOf([&] {
            ok = SendInPieces(raw, data.data(), data.size(), kPieceBytes) &&
                 rawSink.WaitFor(kTotalBytes) && ok;
        }));
        wholeMs.push_back(MillisecondsOf([&] {
            ok = SendInPieces(raw, data.data(), data.size(), data.size()) &&
                 rawSink.WaitFor(kTotalBytes) && ok;
        }));
    }
    ::close(raw);
    DeleteAllLayerItems();
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double layer = Median(layerMs);
    double plain = Median(rawMs);
    double whole = Median(wholeMs);
    double mib = kTotalBytes / (1024.0 * 1024.0);
    std::printf("pieces of %d bytes, %d repetitions, medians\n", kPieceBytes, options.repetitions);
    std::printf("  Write:     %8.1f ms  %7.1f MiB/s\n", layer, mib / (layer / 1000.0));
    std::printf("  raw send:  %8.1f ms  %7.1f MiB/s\n", plain, mib / (plain / 1000.0));
    std::printf("  one send:  %8.1f ms  %7.1f MiB/s (the whole buffer per call)\n", whole,
                mib / (whole / 1000.0));
    std::printf("  ratio Write / raw send (throughput): %.3f\n", plain / layer);
    std::printf("  ratio Write / one send (throughput): %.3f\n", whole / layer);
}

}  // namespace bench
