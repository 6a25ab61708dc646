#include "tools/sorlink/doctor/Access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sorlink_tool::doctor {

namespace {

// The extended attribute system.posix_acl_access: a version word, then
// entries of tag, permissions and id (acl_ea_entry in the kernel's
// posix_acl_xattr.h), all little-endian.
constexpr std::uint16_t kAclUserObj = 0x01;
constexpr std::uint16_t kAclUser = 0x02;
constexpr std::uint16_t kAclGroupObj = 0x04;
constexpr std::uint16_t kAclGroup = 0x08;
constexpr std::uint16_t kAclMask = 0x10;
constexpr std::uint16_t kAclOther = 0x20;
constexpr std::uint32_t kAclVersion = 2;

struct AclEntry {
    std::uint16_t tag;
    std::uint16_t permissions;
    std::uint32_t id;
};

std::uint32_t ReadLittle(const unsigned char* bytes, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::vector<AclEntry> ReadAcl(const std::string& path) {
    unsigned char buffer[1024];
    ssize_t size = getxattr(path.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
    std::vector<AclEntry> entries;
    if (size < 4 || ReadLittle(buffer, 4) != kAclVersion) return entries;
    for (ssize_t offset = 4; offset + 8 <= size; offset += 8) {
        entries.push_back({static_cast<std::uint16_t>(ReadLittle(buffer + offset, 2)),
                           static_cast<std::uint16_t>(ReadLittle(buffer + offset + 2, 2)),
                           ReadLittle(buffer + offset + 4, 4)});
    }
    return entries;
}

bool Covers(int permissions, int wanted) {
    return (permissions & wanted) == wanted;
}

// The kernel's order (posix_acl_permission): the owner, a named user, then
// a matching group entry that grants everything asked (a matching group
// that does not ends the search), then others. Without an ACL the mode's
// three classes stand for the owner, group and other entries.
bool Grants(const struct stat& info, const std::vector<AclEntry>& acl, const Identity& who,
            int wanted) {
    if (acl.empty()) {
        if (who.uid == info.st_uid) return Covers(info.st_mode >> 6, wanted);
        if (InGroup(who.groups, info.st_gid)) return Covers(info.st_mode >> 3, wanted);
        return Covers(info.st_mode, wanted);
    }
    int mask = 7;
    for (const AclEntry& entry : acl) {
        if (entry.tag == kAclMask) mask = entry.permissions;
    }
    for (const AclEntry& entry : acl) {
        if (entry.tag == kAclUserObj && who.uid == info.st_uid) {
            return Covers(entry.permissions, wanted);
        }
        if (entry.tag == kAclUser && entry.id == who.uid) {
            return Covers(entry.permissions & mask, wanted);
        }
    }
    bool groupMatched = false;
    for (const AclEntry& entry : acl) {
        bool matches = (entry.tag == kAclGroupObj && InGroup(who.groups, info.st_gid)) ||
                       (entry.tag == kAclGroup && InGroup(who.groups, entry.id));
        if (!matches) continue;
        if (Covers(entry.permissions & mask, wanted)) return true;
        groupMatched = true;
    }
    if (groupMatched) return false;
    for (const AclEntry& entry : acl) {
        if (entry.tag == kAclOther) return Covers(entry.permissions, wanted);
    }
    return false;
}

std::vector<gid_t> AccountGroups(const char* name, gid_t primary) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(name, primary, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        getgrouplist(name, primary, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

}  // namespace

Identity ProcessIdentity() {
    Identity identity;
    identity.uid = geteuid();
    identity.isThisProcess = true;
    identity.groups.push_back(getegid());
    int count = getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> supplementary(static_cast<std::size_t>(count));
        count = getgroups(count, supplementary.data());
        supplementary.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        identity.groups.insert(identity.groups.end(), supplementary.begin(), supplementary.end());
    }
    identity.name = UserName(identity.uid);
    identity.accountGroups = identity.groups;
    if (const struct passwd* account = getpwuid(identity.uid)) {
        identity.accountGroups = AccountGroups(account->pw_name, account->pw_gid);
    }
    return identity;
}

bool AccountIdentity(const std::string& name, Identity* identity) {
    const struct passwd* account = getpwnam(name.c_str());
    if (account == nullptr) return false;
    identity->name = account->pw_name;
    identity->uid = account->pw_uid;
    identity->groups = AccountGroups(account->pw_name, account->pw_gid);
    identity->accountGroups = identity->groups;
    identity->isThisProcess = false;
    return true;
}

bool Allows(const std::string& path, const Identity& who, int wanted) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    if (who.uid == 0) {
        // Root passes every read and write check, and searches any folder;
        // it executes a file only if someone may.
        bool executes = S_ISDIR(info.st_mode) || (info.st_mode & 0111) != 0;
        return (wanted & kMaySearch) == 0 || executes;
    }
    return Grants(info, ReadAcl(path), who, wanted);
}

bool InGroup(const std::vector<gid_t>& groups, gid_t group) {
    for (gid_t member : groups) {
        if (member == group) return true;
    }
    return false;
}

std::string GroupName(gid_t group) {
    const struct group* entry = getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

std::string UserName(uid_t user) {
    const struct passwd* entry = getpwuid(user);
    return entry != nullptr ? entry->pw_name : std::to_string(user);
}

std::string DescribeOwnership(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "missing";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "owner " + UserName(info.st_uid) + ", group " + GroupName(info.st_gid) + ", mode " +
           mode;
}

}  // namespace sorlink_tool::doctor
