// Host names for --tcp and --udp: the library takes dotted IPv4 addresses
// only, so the tool resolves a name itself. One implementation per system
// (HostAddressPosix.cpp, HostAddressWindows.cpp).
#pragma once

#include <string>

namespace sorlink_tool {

// True when the text is made of digits and dots only: it goes to the
// library as typed, so that the library alone judges the address.
bool LooksNumeric(const std::string& host);

// The first IPv4 address of host in dotted decimal; false with *error (the
// resolver's own words) when there is none.
bool ResolveIpv4(const std::string& host, std::string* address, std::string* error);

}  // namespace sorlink_tool
