// Creates communication ports through the library and prints the log the
// library wrote for them.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sorlink.h"

int main() {
    std::string log =
        "/tmp/sorlink-demo-" + std::to_string(static_cast<long>(std::rand())) + ".log";
    std::remove(log.c_str());
    int serialPort = 0, ethernetPort = 0, linkType = -1, current = 0;
    const int mask = LOG_TRACE | LOG_INFO | LOG_ERROR;
    if (CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE, mask, log.c_str(),
                                &serialPort) != 0 ||
        CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, mask, log.c_str(),
                                &ethernetPort) != 0) {
        std::fprintf(stderr, "could not create the ports\n");
        return 1;
    }
    SetCommunicationPort(serialPort);
    GetIDPort(&current);
    GetLayerStatus(&linkType);
    std::printf("ports %d (serial) and %d (ethernet); current %d, link type %d\n", serialPort,
                ethernetPort, current, linkType);
    DeleteAllLayerItems();

    std::printf("--- %s\n", log.c_str());
    if (std::FILE* file = std::fopen(log.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, file) != nullptr) std::fputs(line, stdout);
        std::fclose(file);
    }
    std::remove(log.c_str());
    return 0;
}
