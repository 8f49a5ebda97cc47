#include "common/TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "common/Files.h"
#include "common/FilesOs.h"
#include "common/FsPath.h"
#include "common/TempFolderOs.h"

namespace edog {
namespace {

// "edog <pid> <host>": a mark of another program or machine is never taken for ours.
std::string MarkText() {
  return "edog " + std::to_string(temp_os::ProcessId()) + " " + temp_os::HostName() + "\n";
}

bool MarkIsAbandoned(const std::string& mark) {
  const std::string prefix = "edog ";
  if (mark.compare(0, prefix.size(), prefix) != 0) return false;
  char* end = nullptr;
  const long pid = std::strtol(mark.c_str() + prefix.size(), &end, 10);
  if (pid <= 0 || *end != ' ') return false;
  std::string host(end + 1);
  while (!host.empty() && (host.back() == '\n' || host.back() == '\r')) host.pop_back();
  return host == temp_os::HostName() && !temp_os::ProcessRuns(pid);
}

}  // namespace

TempFolderChoice ChooseTempFolder() {
  TempFolderChoice choice;
  const std::optional<std::string> tmp = EnvironmentValue("TMP");
  if (tmp && !tmp->empty() && DirectoryExists(*tmp)) {
    choice.folder = *tmp;
  } else {
    choice.folder = temp_os::SystemTempFolder();
    if (tmp) {
      std::string why;
      if (tmp->empty()) why = "TMP is empty";
      else if (FileExists(*tmp)) why = "TMP names a file, \"" + *tmp + "\"";
      else why = "TMP names no folder, \"" + *tmp + "\"";
      choice.note = "TMP is unusable (" + why + "): using the system temp folder " +
                    (choice.folder.empty() ? "(none found)" : choice.folder);
    }
  }
  if (!choice.folder.empty()) choice.problem = TempFolderProblem(choice.folder);
  return choice;
}

std::string TempFolderProblem(const std::string& folder) {
  return FolderTrustProblem(
      folder, {"the temp folder", "swap the extracted files", "set TMP to a folder of your own"});
}

std::string FolderTrustProblem(const std::string& folder, const TrustWords& words,
                               const TrustRule& rule) {
  return temp_os::FolderProblem(folder, words, rule);
}

std::string FileTrustProblem(const std::string& file, const TrustWords& words,
                             const TrustRule& rule) {
  return temp_os::FileProblem(file, words, rule);
}

FreshTempFolder MakeFreshTempFolder() {
  FreshTempFolder fresh;
  const TempFolderChoice choice = ChooseTempFolder();
  fresh.note = choice.note;
  if (choice.folder.empty()) {
    fresh.error = ENOENT;
    return fresh;
  }
  if (!choice.problem.empty()) {
    fresh.refusal = choice.problem;
    return fresh;
  }
  RemoveAbandonedTempFolders(choice.folder);
  errno = 0;
  fresh.path = files_os::MakeFreshDirectory(choice.folder);
  if (fresh.path.empty()) fresh.error = errno;
  return fresh;
}

bool MarkTempFolder(const std::string& folder) {
  const std::string text = MarkText();
  return WriteWholeFile(JoinPath(folder, kOwnerMarkName),
                        reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void UnmarkTempFolder(const std::string& folder) { RemoveFile(JoinPath(folder, kOwnerMarkName)); }

int RemoveAbandonedTempFolders(const std::string& base) {
  return temp_os::RemoveAbandoned(base, MarkIsAbandoned);
}

}  // namespace edog
