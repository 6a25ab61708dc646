// The table of figures: add a line here and a function in its own file.
#include "bench/Bench.h"

namespace bench {

void EthernetWrite(const Options& options);        // ethernet_write.cpp
void UsbWrite(const Options& options);             // usb_write.cpp
void WriteFAgainstWrite(const Options& options);   // fifo_and_file.cpp
void ReadFifoAgainstRead(const Options& options);  // fifo_and_file.cpp
void CallOverhead(const Options& options);         // call_overhead.cpp
void LogLines(const Options& options);             // log_lines.cpp
void LoggedWrite(const Options& options);          // logged_write.cpp
void SerialWrite(const Options& options);          // serial_write.cpp

const std::vector<Figure>& Figures() {
    static const std::vector<Figure> figures = {
        {"ethernet_write", "64 MiB through Write to a loopback TCP printer vs raw send loops",
         EthernetWrite},
        {"usb_write", "4 MiB through Write to a usblp printer (a pseudo-terminal) vs raw writes",
         UsbWrite},
        {"serial_write", "8 MiB through Write to a pseudo-terminal printer vs a raw write loop",
         SerialWrite},
        {"writef", "WriteF of a 64 MiB file vs Write of the same bytes (loopback TCP)",
         WriteFAgainstWrite},
        {"readfifo", "ReadFIFO delivering 1 MiB in 16-byte pieces vs Read (loopback TCP)",
         ReadFifoAgainstRead},
        {"call_overhead", "GetIDPort and GetPacketSize with logging off vs an empty export",
         CallOverhead},
        {"log_lines", "log lines per second at LOG_INFO vs a raw open-append-close loop", LogLines},
        {"logged_write",
         "256 KiB through Write with log mask 15 vs raw sends and lines appended 1,024 at a time",
         LoggedWrite},
    };
    return figures;
}

}  // namespace bench
