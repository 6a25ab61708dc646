// Two figures of the layer against the layer itself, over loopback TCP:
// ReadFIFO delivering 1 MiB in 16-byte pieces against Read of the same data,
// and WriteF of a 64 MiB file against Write of the same bytes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/LoopbackSink.h"
#include "bench/LoopbackSource.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kFifoBytes = 1024 * 1024;
constexpr unsigned kFifoPiece = 16;
constexpr int kFileBytes = 64 * 1024 * 1024;

std::vector<unsigned char> Pattern(std::size_t size) {
    std::vector<unsigned char> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 31);
    return data;
}

bool OpenTcp(std::uint16_t port) {
    int id = 0;
    return CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_NONE, 0, nullptr, &id) == 0 &&
           InitEthTCP("127.0.0.1", port) == 0 && Open() == 0;
}

// 214: a TCP read found nothing pending yet; 3: the FIFO is still short.
bool Retry(int result) {
    return result == 214 || result == 3;
}

bool ReceiveWithRead() {
    std::vector<char> buffer(1024);
    int total = 0;
    while (total < kFifoBytes) {
        unsigned got = 0;
        int result = Read(buffer.data(), static_cast<int>(buffer.size()), &got);
        if (result != 0 && !Retry(result)) return false;
        total += static_cast<int>(got);
    }
    return total == kFifoBytes;
}

bool ReceiveWithReadFifo() {
    unsigned char piece[kFifoPiece];
    int total = 0;
    while (total < kFifoBytes) {
        unsigned got = 0;
        int result = ReadFIFO(piece, kFifoPiece, &got);
        if (result != 0 && !Retry(result)) return false;
        if (result == 0) total += static_cast<int>(got);
    }
    return true;
}

// Times one reception on a fresh connection: the source sends 1 MiB to each,
// all of it already on its way when the clock starts.
bool TimeReception(LoopbackSource& source, bool (*receive)(), std::vector<double>* samples) {
    if (!OpenTcp(source.Port()) || !source.WaitSent()) return false;
    bool ok = true;
    samples->push_back(MillisecondsOf([&] { ok = receive(); }));
    Clean(0, 1);  // empties the FIFO for the next run
    DeleteAllLayerItems();
    return ok;
}

}  // namespace

void ReadFifoAgainstRead(const Options& options) {
    LoopbackSource source(Pattern(kFifoBytes));
    std::vector<double> fifoMs, readMs;
    for (int k = 0; k < options.repetitions; ++k) {
        if (!TimeReception(source, ReceiveWithReadFifo, &fifoMs) ||
            !TimeReception(source, ReceiveWithRead, &readMs)) {
            std::printf("a transfer failed\n");
            return;
        }
    }
    double fifo = Median(fifoMs), read = Median(readMs);
    double mib = kFifoBytes / (1024.0 * 1024.0);
    std::printf("1 MiB, ReadFIFO pieces of %u bytes, Read of 1024, %d repetitions, medians\n",
                kFifoPiece, options.repetitions);
    std::printf("  ReadFIFO:  %8.2f ms  %7.1f MiB/s\n", fifo, mib / (fifo / 1000.0));
    std::printf("  Read:      %8.2f ms  %7.1f MiB/s\n", read, mib / (read / 1000.0));
    std::printf("  ratio ReadFIFO / Read (throughput): %.3f\n", read / fifo);
}

void WriteFAgainstWrite(const Options& options) {
    std::vector<unsigned char> data = Pattern(kFileBytes);
    char path[] = "/tmp/sorlink-bench-file.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        std::printf("cannot write the temporary file\n");
        if (fd >= 0) close(fd);
        return;
    }
    close(fd);

    LoopbackSink sink;
    bool ok = OpenTcp(sink.Port());
    std::vector<double> fileMs, writeMs;
    for (int k = 0; k < options.repetitions && ok; ++k) {
        fileMs.push_back(
            MillisecondsOf([&] { ok = WriteF(path) == 0 && sink.WaitFor(kFileBytes) && ok; }));
        writeMs.push_back(MillisecondsOf(
            [&] { ok = Write(data.data(), kFileBytes) == 0 && sink.WaitFor(kFileBytes) && ok; }));
    }
    DeleteAllLayerItems();
    std::remove(path);
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double file = Median(fileMs), memory = Median(writeMs);
    double mib = kFileBytes / (1024.0 * 1024.0);
    std::printf("64 MiB over loopback TCP, default 1024-byte packets, %d repetitions, medians\n",
                options.repetitions);
    std::printf("  WriteF:  %8.1f ms  %7.1f MiB/s\n", file, mib / (file / 1000.0));
    std::printf("  Write:   %8.1f ms  %7.1f MiB/s\n", memory, mib / (memory / 1000.0));
    std::printf("  ratio WriteF / Write (throughput): %.3f\n", memory / file);
}

}  // namespace bench
