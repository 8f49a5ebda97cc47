// edogtool ports / send-serial / monitor against a loader on a pseudo-terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <thread>

#include "device/SerialPorts.h"
#include "device/SerialTestSupport.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

using test::PeerResult;
using test::PlayLoader;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The lines of the progress list and the message boxes, without the progress display and
// without the account of the line's time that ends the output.
std::vector<std::string> ListLines(const std::string& out) {
  std::vector<std::string> lines;
  for (const auto& l : Lines(out)) {
    if (l.rfind("Serial line: ", 0) == 0) break;
    if (l.rfind("send-serial ", 0) != 0) lines.push_back(l);
  }
  return lines;
}

const auto kNeverRefuse = [](size_t) { return false; };

TEST(SendSerialCommand, SendsTheFileAndPrintsTheListAsItStands) {
  test::TempDir dir;
  test::PtyPair pty;
  const auto data = test::RandomBytes(2500, 77);
  test::WriteFile(dir / "fw.hdr", data);
  PeerResult peer;
  std::thread device([&] { peer = PlayLoader(pty, kNeverRefuse); });
  const auto r = test::RunTool({"send-serial", "--port", pty.SlavePath(), "--trace", dir / "fw.hdr"});
  device.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListLines(r.out),
            (std::vector<std::string>{"File Size: 2500 bytes", "Code Download Start...",
                                      "Download Size... 3072 bytes", "Code Download End...",
                                      "File Transfer is completed!"}));
  EXPECT_NE(r.out.find("send-serial 40%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("send-serial 122%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("File Transfer is completed!\nSerial line: "), std::string::npos) << r.out;
  ASSERT_EQ(peer.blocks.size(), 3u);
  EXPECT_EQ(peer.blocks[2], test::ExpectedBlock(2, data.data() + 2048, 452));
  // The trace: every byte both ways, in order, time-stamped.
  std::vector<std::string> trace;
  for (const auto& l : Lines(r.err)) {
    const auto space = l.find(' ');
    ASSERT_NE(space, std::string::npos) << l;
    EXPECT_NO_THROW(std::stod(l.substr(0, space))) << l;
    trace.push_back(l.substr(space + 1, 12));
  }
  EXPECT_EQ(trace, (std::vector<std::string>{"TX 8: 75 70 ", "RX 1: 43", "TX 1029: 02 ", "RX 1: 06",
                                             "TX 1029: 02 ", "RX 1: 06", "TX 1029: 02 ", "RX 1: 06",
                                             "TX 2: 04 00", "TX 1: 71"}));
  EXPECT_NE(r.err.find("TX 8: 75 70 67 72 61 64 65 0D\n"), std::string::npos);
  EXPECT_NE(r.err.find("TX 1029: 02 02 FD "), std::string::npos);
}

TEST(SendSerialCommand, FailuresAndBadOptions) {
  test::TempDir dir;
  test::WriteFile(dir / "fw.bin", std::string("abc"));
  auto r = test::RunTool({"send-serial", "--port", dir / "no-port", dir / "fw.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Fail connect!"), std::string::npos);
  EXPECT_EQ(test::RunTool({"send-serial", "--port", "x", "--baud", "9600", dir / "fw.bin"}).status, 2);
  EXPECT_EQ(test::RunTool({"send-serial", dir / "fw.bin"}).status, 2);
  EXPECT_EQ(test::RunTool({"send-serial", "--help"}).status, 0);

  test::PtyPair pty;
  r = test::RunTool({"send-serial", "--port", pty.SlavePath(), dir / "missing.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ListLines(r.out), (std::vector<std::string>{"File Open Error!"}));
  EXPECT_TRUE(pty.Receive(1, 50).empty()) << "nothing goes on the line";
}

// A device that refuses a block for a while: the notice comes once, on a line of its own,
// and the list still shows only the latest "Download Size..." line.
TEST(SendSerialCommand, RefusedBlockIsNoticedOnceAndSentUntilTaken) {
  test::TempDir dir;
  test::PtyPair pty;
  const auto data = test::RandomBytes(3000, 78);
  test::WriteFile(dir / "fw.hdr", data);
  test::LoaderScript script;
  script.refuse = [since = std::optional<std::chrono::steady_clock::time_point>()](size_t i) mutable {
    if (i == 0) return false;
    if (!since) since = std::chrono::steady_clock::now();
    return std::chrono::steady_clock::now() - *since < std::chrono::milliseconds(1500);
  };
  PeerResult peer;
  std::thread device([&] { peer = PlayLoader(pty, script); });
  const auto r = test::RunTool({"send-serial", "--port", pty.SlavePath(), "--baud", "57600", dir / "fw.hdr"});
  device.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListLines(r.out),
            (std::vector<std::string>{"File Size: 3000 bytes", "Code Download Start...",
                                      "设备拒绝接收数据，正在重试...", "Download Size... 3072 bytes",
                                      "Code Download End...", "File Transfer is completed!"}));
  ASSERT_EQ(peer.accepted.size(), 3u);
  EXPECT_EQ(peer.accepted[1], test::ExpectedBlock(1, data.data() + 1024, 1024));
  EXPECT_GT(peer.blocks.size(), 3u);
}

// Runs edogtool without waiting; its output goes to files in `dir`.
pid_t Spawn(const std::vector<std::string>& args, const test::TempDir& dir) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string exe = test::BinDir() + "/edogtool";
  std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SendSerialCommand, CtrlCEndsCleanlyWithStatus130) {
  test::TempDir dir, io;
  test::PtyPair pty;
  test::WriteFile(dir / "fw.bin", test::RandomBytes(5000, 1));
  const pid_t pid = Spawn({"send-serial", "--port", pty.SlavePath(), dir / "fw.bin"}, io);
  ASSERT_GT(pid, 0);
  // A loader that takes block 0 and then keeps quiet: the download waits for its answer.
  ASSERT_EQ(pty.Receive(8).size(), 8u);
  pty.Send("C");
  ASSERT_EQ(pty.Receive(1029).size(), 1029u);
  pty.Send("\x06");
  ASSERT_EQ(pty.Receive(1029).size(), 1029u);
  kill(pid, SIGINT);
  EXPECT_EQ(WaitExit(pid), 130);
  EXPECT_TRUE(pty.Receive(1, 100).empty()) << "no end of file after an interrupt";
  const auto list = ListLines(test::ReadText(io / "out"));
  EXPECT_EQ(std::count(list.begin(), list.end(), "Code Download End..."), 0);
}

TEST(MonitorCommand, CopiesTextWithCrLf) {
  test::TempDir io;
  test::PtyPair pty;
  const pid_t pid = Spawn({"monitor", "--port", pty.SlavePath(), "--seconds", "1"}, io);
  ASSERT_GT(pid, 0);
  // The port is purged when it opens: keep talking until the monitor has ended.
  std::atomic<bool> done{false};
  std::thread talker([&] {
    while (!done) {
      pty.Send("A\nB\n");
      pty.Receive(1, 20);  // paces the loop
    }
  });
  EXPECT_EQ(WaitExit(pid), 0);
  done = true;
  talker.join();
  const std::string out = test::ReadText(io / "out");
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(out.size() % 6, 0u) << out;
  for (size_t i = 0; i < out.size(); i += 6) ASSERT_EQ(out.substr(i, 6), "A\r\nB\r\n");
}

TEST(PortsCommand, ListsTheSimulatorsLineWhileItExists) {
  test::TempDir state;
  test::PtyPair pty;
  test::WriteFile(state / kSerialLineFile, pty.SlavePath() + "\n");
  auto r = test::RunTool({"ports", "--state", state.Path()});
  EXPECT_EQ(r.status, 0);
  auto lines = Lines(r.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), pty.SlavePath()), 1) << r.out;
  std::vector<std::string> sorted = lines;
  SortPortNames(sorted);
  EXPECT_EQ(lines, sorted);
  // Without --state: $EDOG_SIM_STATE.
  setenv("EDOG_SIM_STATE", state.Path().c_str(), 1);
  r = test::RunTool({"ports"});
  unsetenv("EDOG_SIM_STATE");
  EXPECT_NE(r.out.find(pty.SlavePath() + "\n"), std::string::npos) << r.out;

  test::WriteFile(state / kSerialLineFile, std::string("/dev/pts/999999\n"));
  r = test::RunTool({"ports", "--state", state.Path()});
  EXPECT_EQ(r.out.find("/dev/pts/999999"), std::string::npos);
  EXPECT_FALSE(AnnouncedSerialLine(state.Path()).has_value());
  test::WriteFile(state / kSerialLineFile, state / kSerialLineFile);  // a plain file
  EXPECT_FALSE(AnnouncedSerialLine(state.Path()).has_value());
}

}  // namespace
}  // namespace edog
