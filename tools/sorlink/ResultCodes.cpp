#include "tools/sorlink/ResultCodes.h"

#include <cstring>

namespace sorlink_tool {

namespace {

struct ResultCode {
    int code;
    const char* meaning;
};

const ResultCode kResultCodes[] = {
#define SORLINK_RESULT(code, meaning) {code, meaning},
#include "tools/sorlink/ResultCodes.inc"
#undef SORLINK_RESULT
};

// InitSerialPort adds one bit per line setting it refused.
const char* const kSerialSettingBits[] = {"baud rate", "parity", "byte size", "stop bits",
                                          "flow control"};

const char* const kSerialBitsMeaning =
    "InitSerialPort only: the sum of the bits of the wrong line settings (1 baud rate, "
    "2 parity, 4 byte size, 8 stop bits, 16 flow control)";

// Windows error numbers, which the library records on every system (its
// Linux backend translates errno into them).
const ResultCode kSystemErrors[] = {
    {2, "no such file or device"},
    {3, "no such path"},
    {5, "permission denied"},
    {6, "invalid handle"},
    {8, "out of memory or descriptors"},
    {31, "the device reported an error"},
    {32, "the device is in use by another program"},
    {50, "not supported by the device"},
    {87, "invalid parameter"},
    {123, "invalid name"},
    {995, "the operation was interrupted"},
    {1167, "the device is not connected"},
    {1460, "timed out"},
    {10004, "interrupted"},
    {10013, "permission denied"},
    {10022, "invalid argument"},
    {10024, "too many open sockets"},
    {10048, "the address is already in use"},
    {10049, "the address is not available on this machine"},
    {10050, "the network is down"},
    {10051, "network unreachable (no route)"},
    {10053, "connection aborted"},
    {10054, "connection reset by the printer"},
    {10055, "no buffer space"},
    {10057, "not connected"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10065, "host unreachable"},
};

}  // namespace

const char* SystemErrorText(int error) {
    for (const ResultCode& entry : kSystemErrors) {
        if (entry.code == error) return entry.meaning;
    }
    return nullptr;
}

bool IsSetUpCause(int result, int systemError) {
    switch (systemError) {
        case 2:
        case 3:
        case 5:
        case 32:
        case 1167:
        case 10013:
            return true;
        default:
            break;
    }
    switch (result) {
        case 1:     // a registry key failed to open
        case 2:     // a registry value was not readable
        case 218:   // no installed TCP printer of that name
        case 219:   // the printer's port name is empty
        case 220:   // the printer's port is no TCP/IP port
        case 256:   // serial port not found
        case 302:   // USB printer name not installed
        case 303:   // no device for the printer
        case 315:   // no present device for the printer
        case 316:   // no present device for the serial number
        case 325:   // the printer's device prefix was not obtained
        case 512:   // serial printer not found
        case 4096:  // the serial printer's port was not readable
            return true;
        default:
            return false;
    }
}

const char* ResultMeaning(int code) {
    for (const ResultCode& entry : kResultCodes) {
        if (entry.code == code) return entry.meaning;
    }
    return nullptr;
}

std::string DescribeResult(int code, const char* entryPoint) {
    std::string text = "result " + std::to_string(code) + " (";
    if (entryPoint != nullptr && std::strcmp(entryPoint, "InitSerialPort") == 0 && code >= 1 &&
        code <= 31) {
        text += "serial: wrong line settings:";
        const char* separator = " ";
        for (int bit = 0; bit < 5; ++bit) {
            if ((code & (1 << bit)) == 0) continue;
            text += separator;
            text += kSerialSettingBits[bit];
            separator = ", ";
        }
        return text + ")";
    }
    const char* meaning = ResultMeaning(code);
    text += meaning != nullptr ? meaning : "not a code of the library";
    return text + ")";
}

void PrintResultTable(std::FILE* out, bool markdown) {
    if (markdown) {
        std::fprintf(out, "| Code | Meaning |\n|---|---|\n");
    }
    for (const ResultCode& entry : kResultCodes) {
        if (markdown) {
            std::fprintf(out, "| %d | %s |\n", entry.code, entry.meaning);
        } else {
            std::fprintf(out, "%5d  %s\n", entry.code, entry.meaning);
        }
        // The bit-sum codes sit right after the success row, as one entry.
        if (entry.code == 0) {
            if (markdown) {
                std::fprintf(out, "| 1 to 31 | %s |\n", kSerialBitsMeaning);
            } else {
                std::fprintf(out, "1..31  %s\n", kSerialBitsMeaning);
            }
        }
    }
}

}  // namespace sorlink_tool
