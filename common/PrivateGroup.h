#pragma once
// Whether a group is the user's own private group: its gid is the user's primary gid, its
// name is the user's name and it lists no other member, as many distributions make one per
// user (Debian's OpenSSH accepts the same for ~/.ssh). A place that only such a group may
// write to besides the user is as good as the user's: a umask of 002, the default where
// every user has such a group, makes new folders and files writable by it. POSIX only.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace edog {

// A group as the system's group database lists it (getgrgid): its name and the users it
// names as members besides those whose primary group it is.
struct GroupEntry {
  std::string name;
  std::vector<std::string> members;
};
using GroupLookup = std::function<std::optional<GroupEntry>(unsigned long gid)>;

// The system's group database; nullopt for an unknown gid.
std::optional<GroupEntry> SystemGroup(unsigned long gid);
// `groups` empty: the system's group database (tests put a fake there).
bool IsOwnPrivateGroup(unsigned long gid, const GroupLookup& groups = {});

}  // namespace edog
