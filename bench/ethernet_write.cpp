// 64 MiB through the layer's Write (default 1024-byte packets, logging off)
// against a raw send loop with the same piece size, and against raw sends of
// the whole buffer at once, to the same loopback receivers in the same run. Each sample lasts until the receiver has every
// byte, so both sides pay for delivery.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "bench/LoopbackSink.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 64 * 1024 * 1024;
constexpr int kPieceBytes = 1024;

bool SendAllRaw(int fd, const std::vector<unsigned char>& data) {
    for (std::size_t offset = 0; offset < data.size(); offset += kPieceBytes) {
        std::size_t piece = std::min<std::size_t>(kPieceBytes, data.size() - offset);
        std::size_t taken = 0;
        while (taken < piece) {
            ssize_t n = ::send(fd, data.data() + offset + taken, piece - taken, MSG_NOSIGNAL);
            if (n <= 0) return false;
            taken += static_cast<std::size_t>(n);
        }
    }
    return true;
}

// The kernel takes as much of the buffer as it can per call.
bool SendWholeRaw(int fd, const std::vector<unsigned char>& data) {
    std::size_t taken = 0;
    while (taken < data.size()) {
        ssize_t n = ::send(fd, data.data() + taken, data.size() - taken, MSG_NOSIGNAL);
        if (n <= 0) return false;
        taken += static_cast<std::size_t>(n);
    }
    return true;
}

int ConnectRaw(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

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
    int raw = ConnectRaw(rawSink.Port());
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
        rawMs.push_back(MillisecondsOf(
            [&] { ok = SendAllRaw(raw, data) && rawSink.WaitFor(kTotalBytes) && ok; }));
        wholeMs.push_back(MillisecondsOf(
            [&] { ok = SendWholeRaw(raw, data) && rawSink.WaitFor(kTotalBytes) && ok; }));
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
