// 64 MiB through the layer's Write (default 1024-byte packets, logging off)
// against a raw send loop with the same piece size, and against raw sends of
// the whole buffer at once, to the same loopback receivers in the same run.
// Each sample lasts until the receiver has every byte, so both sides pay
// for delivery. Then receipts: many short writes, each of which the layer
// returns only once the printer acknowledged it, against a raw send loop
// that waits for the acknowledgement the same way (SIOCOUTQ at 0).
#include <unistd.h>

#include <cstdint>
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
constexpr int kReceipts = 2000;
constexpr int kReceiptBytes = 1000;

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
    std::vector<double> ackedMs;
    std::vector<double> receiptMs;
    std::vector<double> rawReceiptMs;
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
        ackedMs.push_back(MillisecondsOf([&] {
            ok = SendInPieces(raw, data.data(), data.size(), kPieceBytes) &&
                 WaitAcknowledged(raw) && rawSink.WaitFor(kTotalBytes) && ok;
        }));
        receiptMs.push_back(MillisecondsOf([&] {
            for (int r = 0; r < kReceipts && ok; ++r) ok = Write(data.data(), kReceiptBytes) == 0;
            ok = sink.WaitFor(std::uint64_t{kReceipts} * kReceiptBytes) && ok;
        }));
        rawReceiptMs.push_back(MillisecondsOf([&] {
            for (int r = 0; r < kReceipts && ok; ++r) {
                ok = SendInPieces(raw, data.data(), kReceiptBytes, kPieceBytes) &&
                     WaitAcknowledged(raw);
            }
            ok = rawSink.WaitFor(std::uint64_t{kReceipts} * kReceiptBytes) && ok;
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
    double acked = Median(ackedMs);
    std::printf("  raw send + acknowledgement wait: %8.1f ms\n", acked);
    std::printf("  ratio Write / raw send + acknowledgement wait (throughput): %.3f\n",
                acked / layer);
    double receipts = Median(receiptMs);
    double rawReceipts = Median(rawReceiptMs);
    std::printf("receipts: %d writes of %d bytes, each acknowledged before the next\n", kReceipts,
                kReceiptBytes);
    std::printf("  Write:     %8.1f ms  %7.1f us per receipt\n", receipts,
                receipts * 1000.0 / kReceipts);
    std::printf("  raw send + acknowledgement wait: %8.1f ms  %7.1f us per receipt\n", rawReceipts,
                rawReceipts * 1000.0 / kReceipts);
    std::printf("  ratio Write / raw send + acknowledgement wait (throughput): %.3f\n",
                rawReceipts / receipts);
}

}  // namespace bench
