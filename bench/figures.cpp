// The table of figures: add a line here and a function in its own file.
#include "bench/Bench.h"

namespace bench {

void EthernetWrite(const Options& options);  // ethernet_write.cpp
void UsbWrite(const Options& options);       // usb_write.cpp
void SerialWrite(const Options& options);    // serial_write.cpp

const std::vector<Figure>& Figures() {
    static const std::vector<Figure> figures = {
        {"ethernet_write", "64 MiB through Write to a loopback TCP printer vs a raw send loop",
         EthernetWrite},
        {"usb_write", "4 MiB through Write to a usblp printer (a pseudo-terminal) vs raw writes",
         UsbWrite},
        {"serial_write", "8 MiB through Write to a pseudo-terminal printer vs a raw write loop",
         SerialWrite},
    };
    return figures;
}

}  // namespace bench
