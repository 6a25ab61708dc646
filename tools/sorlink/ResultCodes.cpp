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

}  // namespace

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
