/*
 * Prints a file on a network receipt printer and asks for its status, through
 * the Sorlink C interface.
 *
 *   print_receipt ADDRESS PORT FILE [LOG]
 *
 * ADDRESS is a dotted IPv4 address. The status request DLE EOT 1 is answered
 * by most receipt printers with one status byte; the example prints it.
 */
#include <stdio.h>
#include <stdlib.h>

#include "sorlink.h"

/* Reports a failed call; returns its result so callers can stop. */
static int check(const char* call, int result) {
    if (result != 0) fprintf(stderr, "%s failed with result %d\n", call, result);
    return result;
}

int main(int argc, char** argv) {
    static const unsigned char statusRequest[] = {0x10, 0x04, 0x01};
    unsigned char answer[1];
    unsigned received = 0;
    int portId = 0;
    int attempt;
    int result;

    if (argc < 4) {
        fprintf(stderr, "usage: %s ADDRESS PORT FILE [LOG]\n", argv[0]);
        return 2;
    }
    /* Ethernet port, logging START/END, information and errors to LOG. */
    result = CreateCommunicationPort(
        SORLINK_LINK_ETHERNET, argc > 4 ? LOG_MODE_FILE : LOG_MODE_NONE,
        LOG_TRACE | LOG_INFO | LOG_ERROR, argc > 4 ? argv[4] : NULL, &portId);
    if (check("CreateCommunicationPort", result) != 0) return 1;

    if (check("InitEthTCP", InitEthTCP(argv[1], atoi(argv[2]))) == 0 &&
        check("SetEthConnTimeout", SetEthConnTimeout(3000)) == 0 && check("Open", Open()) == 0) {
        result = check("WriteF", WriteF(argv[3]));
        if (result == 0) result = check("Write", Write(statusRequest, sizeof statusRequest));
        /* ReadFIFO returns 3 until the byte has arrived; a TCP read waits
         * only a few milliseconds, so ask a bounded number of times. */
        for (attempt = 0; result == 0 && attempt < 400; ++attempt) {
            int read = ReadFIFO(answer, sizeof answer, &received);
            if (read == 0) break;
            if (read != 3 && read != 214) result = check("ReadFIFO", read);
        }
        if (result == 0 && received == 1) {
            printf("printed %s; printer status 0x%02x\n", argv[3], answer[0]);
        } else if (result == 0) {
            fprintf(stderr, "no status answer\n");
            result = 1;
        }
        check("Close", Close());
    } else {
        result = 1;
    }
    DeleteAllLayerItems();
    return result == 0 ? 0 : 1;
}
