/* An application that exports functions of its own under names the CUPS
 * client library and its libraries use (linked with -rdynamic, as programs
 * with plug-ins are). It lists the TCP/IP printers and prints
 *   result <code> list <names> own functions called <count>
 * The library's CUPS look-up must reach libcups's functions, not these. */
#include <stdio.h>

#include "sorlink.h"

static int calls;

/* Returns what would make libcups read an endless empty answer. */
char* httpGets(char* line, int length, void* http) {
    (void)line;
    (void)length;
    (void)http;
    ++calls;
    return NULL;
}

int cupsLastError(void) {
    ++calls;
    return 0;
}

int main(void) {
    int port = 0;
    char list[4096] = "";
    if (CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_NONE, 0, "/dev/null", &port) != 0)
        return 2;
    int result = EthEnumPrinters(list, sizeof list);
    printf("result %d list %s own functions called %d\n", result, list, calls);
    DeleteAllLayerItems();
    return 0;
}
