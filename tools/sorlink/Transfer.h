// The data subcommands: send, read, chat and test-page.
#pragma once

#include "tools/common/Arguments.h"

namespace sorlink_tool {

int RunSend(int argc, char** argv);
int RunRead(int argc, char** argv);
int RunChat(int argc, char** argv);
int RunTestPage(int argc, char** argv);

}  // namespace sorlink_tool
