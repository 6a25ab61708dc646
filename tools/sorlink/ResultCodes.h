// Meanings of the library's result codes, from the one table in
// ResultCodes.inc.
#pragma once

#include <cstdio>
#include <string>

namespace sorlink_tool {

// The meaning of a code, or null for a code the library never returns.
const char* ResultMeaning(int code);

// "result 256 (serial: port not found)". InitSerialPort's codes 1 to 31
// are a sum of bits: each wrong line setting is named.
std::string DescribeResult(int code, const char* entryPoint);

// What a platform error number that GetLastErrorComm gives means, in a few
// words ("connection refused"); null for a number not known here.
const char* SystemErrorText(int error);

// True when the cause is most likely the machine's set-up or the user's
// access (a missing device or printer, a refused open): the doctor checks
// exactly those.
bool IsSetUpCause(int result, int systemError);

// The whole table, as text lines or as the Markdown table of docs/api.md.
void PrintResultTable(std::FILE* out, bool markdown);

}  // namespace sorlink_tool
