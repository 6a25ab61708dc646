// 64 MiB through the layer's Write (default 1024-byte packets, logging off)
// against a raw send loop with the same piece size, and against raw sends of
// the whole buffer at once, to the same loopback receivers in the same run.
// Each sample lasts until the receiver has every byte, so both sides pay
// for delivery. Then receipts: many short writes, each of which the layer
// returns only once the printer acknowledged it, against a raw send loop
// that waits for the acknowledgement the same way (SIOCOUTQ at 0).
// Every ratio is taken within one round (see Pairs), so a loaded machine
// moves the times but hardly the ratios.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/Bench.h"
#include "bench/Loopback.h"
#include "bench/LoopbackSink.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 64 * 1024 * 1024;
constexpr int kPieceBytes = 1024;
// A receipt of one piece, and one of five pieces whose tail would wait for
// the delayed acknowledgement of the piece before it if Nagle were on.
constexpr int kReceiptBytes[] = {1000, 5000};
constexpr int kReceiptsPerRound = 100;
constexpr int kRoundsPerRepetition = 4;

// The layer and its baseline measured back to back, in turns first, and
// their throughput ratio kept per round: load that comes and goes on the
// machine then touches both sides of one ratio alike. Round -1 warms up.
class Pairs {
public:
    void Measure(int round, const std::function<void()>& layer, const std::function<void()>& raw) {
        double layerTime = 0;
        double rawTime = 0;
        if (round % 2 == 0) {
            layerTime = MillisecondsOf(layer);
            rawTime = MillisecondsOf(raw);
        } else {
            rawTime = MillisecondsOf(raw);
            layerTime = MillisecondsOf(layer);
        }
        if (round < 0) return;
        layerMs.push_back(layerTime);
        rawMs.push_back(rawTime);
        ratios.push_back(layerTime > 0 ? rawTime / layerTime : 0);
    }
    double LayerMs() const { return Median(layerMs); }
    double RawMs() const { return Median(rawMs); }
    double Ratio() const { return Median(ratios); }

private:
    std::vector<double> layerMs;
    std::vector<double> rawMs;
    std::vector<double> ratios;
};

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

    // The raw socket sends as the layer's does: without Nagle's delay.
    int on = 1;
    ::setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    bool ok = true;
    auto bulk = [&] {
        ok = Write(data.data(), kTotalBytes) == 0 && sink.WaitFor(kTotalBytes) && ok;
    };
    auto rawBulk = [&] {
        ok = SendInPieces(raw, data.data(), data.size(), kPieceBytes) &&
             rawSink.WaitFor(kTotalBytes) && ok;
    };
    auto wholeBulk = [&] {
        ok = SendInPieces(raw, data.data(), data.size(), data.size()) &&
             rawSink.WaitFor(kTotalBytes) && ok;
    };
    auto ackedBulk = [&] {
        ok = SendInPieces(raw, data.data(), data.size(), kPieceBytes) && WaitAcknowledged(raw) &&
             rawSink.WaitFor(kTotalBytes) && ok;
    };
    Pairs plain;
    Pairs whole;
    Pairs acked;
    // One round each first, not counted: connections and buffers warm up.
    for (int k = -1; k < options.repetitions && ok; ++k) {
        plain.Measure(k, bulk, rawBulk);
        whole.Measure(k, bulk, wholeBulk);
        acked.Measure(k, bulk, ackedBulk);
    }

    // Receipts: short writes, each acknowledged before the next. Rounds are
    // short so that the two sides of a ratio meet the same machine load.
    std::vector<Pairs> receipts(sizeof kReceiptBytes / sizeof kReceiptBytes[0]);
    for (int k = -1; k < options.repetitions * kRoundsPerRepetition && ok; ++k) {
        for (std::size_t size = 0; size < receipts.size(); ++size) {
            int bytes = kReceiptBytes[size];
            receipts[size].Measure(
                k,
                [&] {
                    for (int r = 0; r < kReceiptsPerRound && ok; ++r)
                        ok = Write(data.data(), bytes) == 0;
                    ok = sink.WaitFor(std::uint64_t{kReceiptsPerRound} * bytes) && ok;
                },
                [&] {
                    for (int r = 0; r < kReceiptsPerRound && ok; ++r) {
                        ok = SendInPieces(raw, data.data(), bytes, kPieceBytes) &&
                             WaitAcknowledged(raw);
                    }
                    ok = rawSink.WaitFor(std::uint64_t{kReceiptsPerRound} * bytes) && ok;
                });
        }
    }
    ::close(raw);
    DeleteAllLayerItems();
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double mib = kTotalBytes / (1024.0 * 1024.0);
    auto rate = [mib](double ms) { return mib / (ms / 1000.0); };
    std::printf(
        "pieces of %d bytes, %d repetitions after a warm-up, each ratio taken within one "
        "repetition, medians\n",
        kPieceBytes, options.repetitions);
    std::printf("  Write:     %8.1f ms  %7.1f MiB/s\n", plain.LayerMs(), rate(plain.LayerMs()));
    std::printf("  raw send:  %8.1f ms  %7.1f MiB/s\n", plain.RawMs(), rate(plain.RawMs()));
    std::printf("  one send:  %8.1f ms  %7.1f MiB/s (the whole buffer per call)\n", whole.RawMs(),
                rate(whole.RawMs()));
    std::printf("  raw send + acknowledgement wait: %8.1f ms  %7.1f MiB/s\n", acked.RawMs(),
                rate(acked.RawMs()));
    std::printf("  ratio Write / raw send (throughput): %.3f\n", plain.Ratio());
    std::printf("  ratio Write / one send (throughput): %.3f\n", whole.Ratio());
    std::printf("  ratio Write / raw send + acknowledgement wait (throughput): %.3f\n",
                acked.Ratio());
    for (std::size_t size = 0; size < receipts.size(); ++size) {
        const Pairs& r = receipts[size];
        std::printf("receipts of %d bytes, %d rounds of %d, each acknowledged before the next\n",
                    kReceiptBytes[size], options.repetitions * kRoundsPerRepetition,
                    kReceiptsPerRound);
        std::printf("  Write:     %7.1f us per receipt\n",
                    r.LayerMs() * 1000.0 / kReceiptsPerRound);
        std::printf("  raw send + acknowledgement wait: %7.1f us per receipt\n",
                    r.RawMs() * 1000.0 / kReceiptsPerRound);
        std::printf("  ratio Write / raw send + acknowledgement wait (throughput): %.3f\n",
                    r.Ratio());
    }
}

}  // namespace bench
