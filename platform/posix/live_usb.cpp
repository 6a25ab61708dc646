#include "platform/posix/live_keys.h"

namespace plat::posix {

void AddUsbEnumeration(reg::Store& /*store*/) {}

}  // namespace plat::posix
