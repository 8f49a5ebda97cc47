// CComm on a real pseudo-terminal: the test holds the master side.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "device/Comm.h"
#include "device/SerialPorts.h"
#include "device/SerialTestSupport.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

// Collects every text the reader hands over, checking the sink's view during the call.
class TextSink final : public CommNotifySink {
 public:
  void OnSerialText(const CComm& comm) override {
    std::lock_guard<std::mutex> lock(m_);
    const int n = comm.TextLength();
    blocks_.emplace_back(comm.Text(), comm.Text() + n);
    changed_.notify_all();
  }
  // Waits until the texts hold `bytes` bytes without their terminators.
  bool WaitForBytes(size_t bytes) {
    std::unique_lock<std::mutex> lock(m_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return Joined().size() >= bytes; });
  }
  std::string Joined() const {
    std::string s;
    for (const auto& b : blocks_) s.append(b.begin(), b.end() - 1);
    return s;
  }
  std::vector<std::string> Blocks() {
    std::lock_guard<std::mutex> lock(m_);
    return blocks_;
  }

 private:
  std::mutex m_;
  std::condition_variable changed_;
  std::vector<std::string> blocks_;
};

class CommOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty_.SlavePath().empty());
    comm_.SetParams(pty_.SlavePath(), 115200, 8, kOneStopBit, kNoParity);
    ASSERT_EQ(comm_.CreateEvents(), 1);
    comm_.SetNotifyWnd(&sink_);
    ASSERT_NE(comm_.Open(), 0);
  }
  test::PtyPair pty_;
  TextSink sink_;
  CComm comm_;
};

TEST(ComDeviceName, ShortAndLongForms) {
  EXPECT_EQ(ComDeviceName(1), "COM1");
  EXPECT_EQ(ComDeviceName(4), "COM4");
  EXPECT_EQ(ComDeviceName(5), "\\\\.\\COM5");
  EXPECT_EQ(ComDeviceName(12), "\\\\.\\COM12");
}

TEST(SerialPorts, SortedAsTheBoxSortsAndNumbered) {
  std::vector<std::string> names = {"COM2", "COM10", "com3", "COM1"};
  SortPortNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM10", "COM2", "com3"}));
  EXPECT_EQ(PortNumberFromName("COM12"), 12);
  EXPECT_EQ(PortNumberFromName("COM1"), 1);
  EXPECT_EQ(PortNumberFromName("COM"), 0);
  // An extra line joins the system's ports once, in sorted place.
  const auto list = ListSerialPorts({"/dev/pts/zz-sim", "/dev/pts/zz-sim"});
  EXPECT_EQ(std::count(list.begin(), list.end(), "/dev/pts/zz-sim"), 1);
  auto sorted = list;
  SortPortNames(sorted);
  EXPECT_EQ(list, sorted);
}

TEST_F(CommOnPty, LineFeedBecomesCrLfWithTerminator) {
  pty_.Send("A\nB");
  ASSERT_TRUE(sink_.WaitForBytes(4));
  const auto blocks = sink_.Blocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], std::string("A\r\nB\0", 5));  // length 5, the zero counted
}

TEST_F(CommOnPty, EightyLineFeedsBecome160Bytes) {
  pty_.Send(std::string(80, '\n'));
  ASSERT_TRUE(sink_.WaitForBytes(160));
  const auto blocks = sink_.Blocks();
  std::string joined;
  for (const auto& b : blocks) {
    ASSERT_EQ(b.back(), '\0');
    ASSERT_LE(b.size(), size_t(CComm::kTextCapacity));
    joined.append(b, 0, b.size() - 1);
  }
  std::string expected;
  for (int i = 0; i < 80; ++i) expected += "\r\n";
  EXPECT_EQ(joined, expected);
  if (blocks.size() == 1) {
    EXPECT_EQ(blocks[0].size(), 161u);
  }
}

TEST_F(CommOnPty, LongTextArrivesWholeInBlocksOfAtMost80) {
  const auto bytes = test::RandomBytes(5000, 11);
  std::string sent(bytes.begin(), bytes.end());
  for (char& c : sent)
    if (c == '\n' || c == '\0') c = 'x';
  pty_.Send(sent);
  ASSERT_TRUE(sink_.WaitForBytes(sent.size()));
  EXPECT_EQ(sink_.Joined(), sent);
  for (const auto& b : sink_.Blocks()) EXPECT_LE(b.size(), 81u);
}

TEST_F(CommOnPty, SuspendedReaderLeavesBytesToTheCaller) {
  comm_.SuspendReader();
  pty_.Send("xyz");
  std::string got;
  for (int i = 0; i < 100 && got.size() < 3; ++i) {
    comm_.WaitReadable(50);
    uint8_t b = 0;
    while (comm_.Read(&b, 1) == 1) got += static_cast<char>(b);
  }
  EXPECT_EQ(got, "xyz");
  EXPECT_TRUE(sink_.Blocks().empty());
  // Counted like a thread's suspend count: two suspends need two resumes.
  comm_.SuspendReader();
  comm_.ResumeReader();
  pty_.Send("q");
  uint8_t b = 0;
  ASSERT_TRUE(comm_.WaitReadable(2000));
  EXPECT_EQ(comm_.Read(&b, 1), 1);
  EXPECT_EQ(b, 'q');
  comm_.ResumeReader();
  pty_.Send("after");
  ASSERT_TRUE(sink_.WaitForBytes(5));
  EXPECT_EQ(sink_.Joined(), "after");
}

TEST_F(CommOnPty, ReadNeverWaitsAndWriteReachesTheLine) {
  comm_.SuspendReader();
  uint8_t buf[16];
  EXPECT_EQ(comm_.Read(buf, sizeof buf), 0);
  EXPECT_FALSE(comm_.WaitReadable(10));
  const auto block = test::RandomBytes(3 * 1029, 5);
  EXPECT_EQ(comm_.Write(block.data(), block.size()), 1);
  EXPECT_EQ(pty_.Receive(block.size()), block);
}

TEST_F(CommOnPty, PortIsRawAtTheChosenSpeedAndNotShared) {
  termios tio{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &tio), 0);  // a pty master reports its slave's settings
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  // Binary bytes cross unchanged both ways (no CR/LF translation, no flow control bytes).
  comm_.SuspendReader();
  const std::string raw("\r\n\x11\x13\x03\x00\xff", 7);
  comm_.Write(raw.data(), raw.size());
  EXPECT_EQ(pty_.Receive(raw.size()), std::vector<uint8_t>(raw.begin(), raw.end()));

  CComm other;
  other.SetParams(pty_.SlavePath(), 115200, 8, kOneStopBit, kNoParity);
  ASSERT_EQ(other.CreateEvents(), 1);
  EXPECT_EQ(other.Open(), 0);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.OpenFailure(), pty_.SlavePath() + " is in use by another program");
}

// A port the user may not open names the group that owns it and the fix, where joining
// that group would give access (the group may read and write); otherwise it only asks for
// access. The check runs in a child that has become an ordinary user (nobody).
TEST(CommOpen, PermissionDeniedNamesTheGroupOnlyWhereJoiningHelps) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to open the port as another user";
  const group* dialout = getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no dialout group";
  const gid_t port = dialout->gr_gid;
  struct Case {
    mode_t mode;
    gid_t gid;
    bool namesGroup;
  };
  for (const Case c : {Case{0660, port, true}, Case{0600, port, false}, Case{0620, port, false},
                       Case{0660, 0, false}}) {  // joining root's group is no advice
    test::PtyPair pty;
    ASSERT_EQ(chown(pty.SlavePath().c_str(), static_cast<uid_t>(-1), c.gid), 0);
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), c.mode), 0);
    struct stat st{};
    ASSERT_EQ(stat(pty.SlavePath().c_str(), &st), 0);
    const group* g = getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    const std::string groupName = g->gr_name;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(out[0]);
      const bool dropped = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
      CComm comm;
      comm.SetParams(pty.SlavePath(), 115200, 8, kOneStopBit, kNoParity);
      const bool refused = dropped && comm.CreateEvents() == 1 && comm.Open() == 0;
      const std::string text = refused ? comm.OpenFailure() : "could not set the test up";
      (void)!write(out[1], text.data(), text.size());
      _exit(0);
    }
    close(out[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    waitpid(child, nullptr, 0);
    SCOPED_TRACE(testing::Message() << "mode 0" << std::oct << c.mode << " group " << groupName);
    EXPECT_EQ(text, SerialPermissionText(pty.SlavePath(), c.namesGroup ? groupName : ""));
    EXPECT_EQ(text.find("usermod") != std::string::npos, c.namesGroup) << text;
  }
}

TEST_F(CommOnPty, CloseEndsTheReaderAndCanReopen) {
  EXPECT_EQ(comm_.Close(), 1);
  EXPECT_FALSE(comm_.IsOpen());
  EXPECT_EQ(comm_.Write("x", 1), 0);
  comm_.SetParams(pty_.SlavePath(), 57600, 8, kOneStopBit, kEvenParity);
  ASSERT_EQ(comm_.CreateEvents(), 1);
  ASSERT_NE(comm_.Open(), 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B57600));
  // (A pty keeps 8 bits without parity whatever is asked; the parity check flag shows.)
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  pty_.Send("ok\n");
  ASSERT_TRUE(sink_.WaitForBytes(4));
  EXPECT_EQ(sink_.Joined(), "ok\r\n");
}

TEST(CommOpen, RefusesWhatIsNotAPortOrBadSettings) {
  test::TempDir dir;
  test::WriteFile(dir / "plain", std::string("data"));
  CComm comm;
  comm.SetParams(dir / "plain", 115200, 8, kOneStopBit, kNoParity);
  EXPECT_EQ(comm.Open(), 0) << "no CreateEvents yet";
  ASSERT_EQ(comm.CreateEvents(), 1);
  EXPECT_EQ(comm.Open(), 0);
  comm.SetParams(dir / "missing", 115200, 8, kOneStopBit, kNoParity);
  EXPECT_EQ(comm.Open(), 0);
  comm.SetParams(static_cast<uint8_t>(3), 115200, 8, kOneStopBit, kNoParity);
  EXPECT_EQ(comm.PortName(), "COM3");
  EXPECT_EQ(comm.Open(), 0);

  test::PtyPair pty;
  for (auto bad : {std::tuple<uint32_t, uint8_t, uint8_t, uint8_t>{12345, 8, 0, 0},
                   {115200, 9, 0, 0}, {115200, 8, 7, 0}, {115200, 8, 0, 9}}) {
    comm.SetParams(pty.SlavePath(), std::get<0>(bad), std::get<1>(bad), std::get<2>(bad),
                   std::get<3>(bad));
    EXPECT_EQ(comm.Open(), 0);
    EXPECT_FALSE(comm.IsOpen());
  }
  // A port refused at Configure is closed again: a good open right after succeeds.
  comm.SetParams(pty.SlavePath(), 115200, 8, kOneStopBit, kNoParity);
  EXPECT_NE(comm.Open(), 0);
}

TEST(CommOpen, HungUpLineDoesNotSpinOrHangClose) {
  auto pty = std::make_unique<test::PtyPair>();
  TextSink sink;
  CComm comm;
  comm.SetParams(pty->SlavePath(), 115200, 8, kOneStopBit, kNoParity);
  ASSERT_EQ(comm.CreateEvents(), 1);
  comm.SetNotifyWnd(&sink);
  ASSERT_NE(comm.Open(), 0);
  pty.reset();  // the other end goes away
  clock_t cpuBefore = clock();
  EXPECT_FALSE(comm.WaitReadable(100));
  EXPECT_EQ(comm.Close(), 1);
  // A spinning reader or wait would have burnt most of the wait in CPU time.
  EXPECT_LT(double(clock() - cpuBefore) / CLOCKS_PER_SEC, 0.08);
}

}  // namespace
}  // namespace edog
