// Every test program runs in folders of its own, made before main and removed at its end:
// the runtime folder (where the device socket is by default), the temp, config, data and
// home folders. So neither a test nor a program it starts ever reaches the user's own
// device, settings or packages, whatever it forgets to name; a test that wants a device
// starts one. The user's EDOG_ settings (device socket, USB ids, library, simulator state)
// are dropped too; EDOG_TEST_ ones are the test commands' own and stay.
// Compiled into every test program (an interface source of the test support library).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr auto kPassThrough = std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                              std::filesystem::perms::others_exec;

class HermeticEnvironment {
 public:
  HermeticEnvironment() {
    const char* tmp = std::getenv("TMPDIR");
    std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/edog-test.XXXXXX";
    if (!mkdtemp(root.data())) {
      std::perror(("test folders: cannot make " + root).c_str());
      std::abort();
    }
    root_ = root;
    // Others may pass through root and temp folder (never list or change them): a test
    // opens a scratch folder to another user playing an intruder.
    std::filesystem::permissions(root_, kPassThrough);
    std::vector<std::string> dropped;
    for (char** e = environ; *e; ++e) {
      const std::string name(*e, std::strcspn(*e, "="));
      if (name.rfind("EDOG_", 0) == 0 && name.rfind("EDOG_TEST_", 0) != 0) dropped.push_back(name);
    }
    for (const std::string& name : dropped) unsetenv(name.c_str());
    for (const auto& [name, folder] : {std::pair{"XDG_RUNTIME_DIR", "run"}, {"TMPDIR", "tmp"},
                                       {"TMP", "tmp"}, {"XDG_CONFIG_HOME", "config"},
                                       {"XDG_DATA_HOME", "data"}, {"HOME", "home"}}) {
      const std::string path = root_ + "/" + folder;
      std::filesystem::create_directories(path);
      std::filesystem::permissions(path, std::string(folder) == "tmp" ? kPassThrough
                                                                      : std::filesystem::perms::owner_all);
      setenv(name, path.c_str(), 1);
    }
  }
  ~HermeticEnvironment() {
    // Not in a forked child that ends through exit(): the folders are its parent's.
    if (getpid() != owner_) return;
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::string root_;
  pid_t owner_ = getpid();
};

// Before the other objects of the program are made, which may read these folders.
const HermeticEnvironment hermetic __attribute__((init_priority(101)));

}  // namespace
