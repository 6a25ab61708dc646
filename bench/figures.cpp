// The table of figures: add a line here and a function in its own file.
#include "bench/Bench.h"

namespace bench {

void EthernetWrite(const Options& options);  // ethernet_write.cpp

const std::vector<Figure>& Figures() {
    static const std::vector<Figure> figures = {
        {"ethernet_write", "64 MiB through Write to a loopback TCP printer vs a raw send loop",
         EthernetWrite},
    };
    return figures;
}

}  // namespace bench
