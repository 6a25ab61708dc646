#include "platform/posix/live_keys.h"

namespace plat::posix {

void AddSerialDeviceMap(reg::Store& /*store*/) {}

}  // namespace plat::posix
