// Writes through what already stands at an output's name: a link planted where `unpack -d`
// puts an entry, or where the simulator keeps its flash images, journal and serial-line
// file, must not carry the write to its target; a pipe there must not block the writer.
// The simulator's state folder and files are the user's alone. A generator's output name
// taken by a folder is refused with the reason; a file there is replaced, keeping its mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "robust/RobustFiles.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

struct Plant {
  const char* kind;
  std::function<void(const std::string& at, const std::string& victim)> make;
};

const std::vector<Plant>& Plants() {
  static const std::vector<Plant> plants = {
      {"a symbolic link", [](const std::string& at, const std::string& victim) { fs::create_symlink(victim, at); }},
      {"a named pipe", [](const std::string& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
      {"a folder", [](const std::string& at, const std::string&) { fs::create_directory(at); }},
  };
  return plants;
}

TEST(PlantedOutput, UnpackNeverWritesThroughWhatStandsAtAnEntrysName) {
  TempDir dir;
  const std::string package = dir / "p.dll";
  ASSERT_EQ(WritePackage(package, {{"e1", {1, 2}}, {"e2", {3, 4, 5}}, {"e3", {6}}}, KeyForMethod(3)), "");
  const std::string victim = dir / "victim";
  for (const Plant& plant : Plants()) {
    SCOPED_TRACE(plant.kind);
    const std::string out = dir / "out";
    fs::remove_all(out);
    fs::create_directory(out);
    WriteFile(victim, std::string("victim"));
    plant.make(out + "/e2", victim);
    const mode_t planted = ModeOf(out + "/e2");
    const ProgramResult r = RunTool({"unpack", "-d", out, package});
    EXPECT_EQ(ReadText(victim), "victim");
    if (S_ISLNK(planted)) {
      // The entry replaces the link in the folder; the link's target is not touched.
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(S_ISREG(ModeOf(out + "/e2")));
      EXPECT_EQ(ReadFile(out + "/e2"), (std::vector<uint8_t>{3, 4, 5}));
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(out + "/e2 is a " + std::string(S_ISDIR(planted) ? "folder" : "pipe, device or socket") +
                         ", not a regular file: left as it is and nothing extracted"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ModeOf(out + "/e2"), planted);
    EXPECT_FALSE(fs::exists(out + "/e1"));
    EXPECT_FALSE(fs::exists(out + "/e3"));
  }
}

TEST(PlantedOutput, TheSimulatorStateIsPrivateAndRefusesPlantedFiles) {
  TempDir dir;
  const std::string victim = dir / "victim";
  for (const char* name : {"eflash.bin", "serial-flash.bin", "nand-flash.bin", "journal.jsonl", "serial-line"}) {
    for (const Plant& plant : Plants()) {
      SCOPED_TRACE(std::string(name) + ", " + plant.kind);
      const std::string state = dir / "state";
      fs::remove_all(state);
      fs::create_directory(state);
      WriteFile(victim, std::string("victim"));
      const std::string at = state + "/" + name;
      plant.make(at, victim);
      sim::SimulatorOptions o;
      o.stateDir = state;
      o.socketPath = dir / "d.sock";
      sim::Simulator device(o);
      std::string error;
      const bool started = device.Start(&error);
      // Without its serial line the device still works; the line's file names the reason.
      if (std::string(name) == "serial-line") {
        EXPECT_TRUE(started) << error;
        EXPECT_EQ(device.SerialLinePath(), "");
        error = device.SerialLineError();
      } else {
        EXPECT_FALSE(started);
      }
      EXPECT_NE(error.find(at + " is " + plant.kind + ", not a regular file: the simulator does not write "
                                                      "through it; remove it or choose another state folder"),
                std::string::npos)
          << error;
      device.Stop();
      EXPECT_EQ(ReadText(victim), "victim");
    }
  }

  // A fresh state folder and its files are the user's alone.
  sim::SimulatorOptions o;
  o.stateDir = dir / "fresh";
  o.socketPath = dir / "d.sock";
  sim::Simulator device(o);
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(device.SerialLineError().empty()) << device.SerialLineError();
  EXPECT_EQ(ModeOf(o.stateDir) & 07777, 0700u);
  for (const char* name : {"eflash.bin", "serial-flash.bin", "nand-flash.bin", "journal.jsonl", "serial-line"})
    EXPECT_EQ(ModeOf(o.stateDir + "/" + name) & 07777, 0600u) << name;
}

// The image table and voice generators' outputs (and the header generator's): a folder at
// the name keeps the box's words and adds the reason on the next line; a file there (a
// private 0600 one, or one the umask would cut) is replaced with its permissions as they were.
TEST(PlantedOutput, GeneratorOutputsSayWhyAFolderIsInTheWayAndKeepAFilesMode) {
  TempDir dir;
  WriteFile(dir / "pic.bmp", SmallBmp());
  WriteFile(dir / "v.wav", MonoWave(8000, 800));
  WriteFile(dir / "fw.raw", RandomBytes(100, 1));
  struct Row {
    std::vector<std::string> args;
    const char* output;
    const char* folderSays;  // after "edogtool COMMAND: " (voice prefixes each line); null: not tried
  };
  const Row rows[] = {
      {{"images", "-o", "Image.hdr", "pic.bmp"}, "Image.hdr",
       "Tmp File could not be opened !\nImage.hdr is a folder, not a regular file\n"},
      {{"images", "-o", "Image.hdr", "pic.bmp"}, "Image.h",
       "Tmp File could not be opened !\nImage.h is a folder, not a regular file\n"},
      {{"voice", "v.wav"}, "KOVA_DATA.HDR",
       "Tmp File could not be opened !\nedogtool voice: KOVA_DATA.HDR is a folder, not a regular file\n"},
      {{"voice", "v.wav"}, "KOVA_DATA.h",
       "Tmp File could not be opened !\nedogtool voice: KOVA_DATA.h is a folder, not a regular file\n"},
      {{"hex2hdr", "-S", "fw.raw"}, "fw.hdr", nullptr},
  };
  const mode_t umask = ::umask(022);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.output);
    const std::string out = dir / row.output;
    for (const mode_t mode : {mode_t(0600), mode_t(0664), mode_t(0640)}) {
      fs::remove_all(out);
      WriteFile(out, std::string("an older output"));
      ASSERT_EQ(::chmod(out.c_str(), mode), 0);
      const ProgramResult r = RunTool(row.args, dir.Path());
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(ReadText(out), "an older output");
      EXPECT_EQ(ModeOf(out) & 07777, mode) << std::oct << mode;
    }
    if (!row.folderSays) continue;
    fs::remove_all(out);
    fs::create_directory(out);
    const auto before = Listing(dir.Path());
    const ProgramResult r = RunTool(row.args, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("edogtool " + row.args[0] + ": " + row.folderSays), std::string::npos)
        << r.err;
    EXPECT_EQ(Listing(dir.Path()), before);
    fs::remove_all(out);
  }
  ::umask(umask);
}

}  // namespace
}  // namespace edog::test
