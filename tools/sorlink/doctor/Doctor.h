#pragma once

namespace sorlink_tool {

// sorlink doctor [--connect] [--json] [--user NAME]: what stands between this
// machine and its printers, one line with a fix per problem. Exit status 0
// when nothing is wrong, 1 otherwise.
int RunDoctor(int argc, char** argv);

}  // namespace sorlink_tool
