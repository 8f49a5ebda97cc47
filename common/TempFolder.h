#pragma once
// Where fresh extraction folders go. The unscrambled images land there, so the folder is
// chosen with care: $TMP only when it names a folder, else the system's temp folder (never
// the current one), and refused when another user could rename what is in it and put his
// own files in their place. Each fresh folder carries a mark naming the process that owns
// it, so that a later run can clear the folders of a process that was killed outright.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/PrivateGroup.h"

namespace edog {

struct TempFolderChoice {
  std::string folder;   // the base of fresh folders; empty when there is none
  std::string note;     // why $TMP was passed over, for the user; empty when it was used or unset
  std::string problem;  // why `folder` may not be used (others may change it); empty when fine
};
TempFolderChoice ChooseTempFolder();

// Why `folder` would let another user swap the files in it (writable by others and not
// sticky, or owned by another user than root), naming the folder and the fix; empty when
// nothing is wrong.
std::string TempFolderProblem(const std::string& folder);

// The same trust check for any place whose files another user must not be able to swap
// (the temp folder, the update package found on its lookup path). The words name the place
// in a refusal: "<what> PATH belongs to user N, not to you (user M) or root, who could
// <harm>; <fix>".
struct TrustWords {
  std::string what;  // "the temp folder"
  std::string harm;  // "swap the extracted files"
  std::string fix;   // "set TMP to a folder of your own"
};

// Who counts as another user that may write. On POSIX a group that is your user-private
// group (its gid is your primary gid, its name is your name and it lists no other member, as
// many distributions make one per user; Debian's OpenSSH accepts the same) is yours; any
// other group's write permission counts as others'. On Windows by default only the owner is
// looked at (the temp folder); with `byWhoMayWrite` the ACL decides (a write grant to
// another account, or the owner being another account of this machine), not the owner alone.
struct TrustRule {
  bool byWhoMayWrite = false;
  GroupLookup groups;  // empty: the system's group database (tests put a fake here)
};


// Why another user could swap what is in `folder`: it belongs to another user than you or
// root, or others may write to it and it is not sticky. Empty when nothing is wrong or
// there is no folder there.
std::string FolderTrustProblem(const std::string& folder, const TrustWords& words,
                               const TrustRule& rule = {});
// Why another user could have put `file` there or could change it: it belongs to another
// user than you or root, or others may write to it. Empty when nothing is wrong or there is
// nothing there.
std::string FileTrustProblem(const std::string& file, const TrustWords& words,
                             const TrustRule& rule = {});

struct FreshTempFolder {
  std::string path;     // "<base>/tmpXXXXXX", empty on failure
  std::string note;     // as TempFolderChoice::note
  std::string refusal;  // the base was refused (TempFolderProblem)
  int error = 0;        // errno of a failed creation
};
// Creates a fresh folder (mode 0700, no race) in the chosen base, after clearing the
// abandoned marked folders there (RemoveAbandonedTempFolders).
FreshTempFolder MakeFreshTempFolder();

// The owner mark: a small file in `folder` with this process's id. Unmark before the
// folder is removed or handed to the user.
constexpr const char* kOwnerMarkName = ".edog-owner";
bool MarkTempFolder(const std::string& folder);
void UnmarkTempFolder(const std::string& folder);

// Removes the marked "tmp*" folders in `base` that belong to this user and whose owning
// process is gone; a folder holding anything but plain files is left, and nothing else is
// touched. Returns how many folders went.
int RemoveAbandonedTempFolders(const std::string& base);

}  // namespace edog
