#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/PrivateGroup.h"

namespace edog {

std::optional<GroupEntry> SystemGroup(unsigned long gid) {
  std::vector<char> buffer(4096);
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int error =
        ::getgrgid_r(static_cast<gid_t>(gid), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 24)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || !found) return std::nullopt;
    GroupEntry group{entry.gr_name ? entry.gr_name : "", {}};
    for (char** member = entry.gr_mem; member && *member; ++member) group.members.push_back(*member);
    return group;
  }
}

namespace {

// This user's name and primary group; false when the user database does not know them.
bool Me(std::string& name, gid_t& primary) {
  std::vector<char> buffer(4096);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 24)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || !found || !entry.pw_name) return false;
    name = entry.pw_name;
    primary = entry.pw_gid;
    return true;
  }
}

}  // namespace

bool IsOwnPrivateGroup(unsigned long gid, const GroupLookup& groups) {
  const std::optional<GroupEntry> group = groups ? groups(gid) : SystemGroup(gid);
  std::string me;
  gid_t primary = 0;
  return group && Me(me, primary) && primary == gid && group->name == me &&
         std::all_of(group->members.begin(), group->members.end(),
                     [&](const std::string& member) { return member == me; });
}

}  // namespace edog
