// Whether a user may read or write a file, decided from the file's owner,
// group, mode and access control list against the user's identity, as the
// kernel decides it. The doctor checks for the account that runs the
// point-of-sale application, which is often not the account running the
// doctor (a technician with sudo); asking the kernel with access() would
// answer for the wrong account, and always yes for root.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sorlink_tool::doctor {

struct Identity {
    std::string name;
    uid_t uid = 0;
    std::vector<gid_t> groups;  // primary group first
    // The groups the account belongs to now; a running session keeps the
    // groups it started with, so these may be more than groups.
    std::vector<gid_t> accountGroups;
    bool isThisProcess = false;
};

// This process's effective identity.
Identity ProcessIdentity();
// The account of that name; false when there is none.
bool AccountIdentity(const std::string& name, Identity* identity);

constexpr int kMayRead = 4;
constexpr int kMayWrite = 2;
constexpr int kMaySearch = 1;

// True when the identity may use the path in every way asked (kMayRead |
// kMayWrite ...). Root may read and write anything, and search any folder.
bool Allows(const std::string& path, const Identity& who, int wanted);

bool InGroup(const std::vector<gid_t>& groups, gid_t group);
std::string GroupName(gid_t group);
std::string UserName(uid_t user);
// "owner root, group dialout, mode 0660"
std::string DescribeOwnership(const std::string& path);

}  // namespace sorlink_tool::doctor
