// Decisions of the main window that need no display.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/MainWindowLogic.h"
#include "common/LineEnds.h"

namespace edog {
namespace {

TEST(PresencePoll, AbsentDeviceSlowsThePollAndDisablesReadUsb) {
  const PresenceOutcome absent = DecidePresence(false, false);
  EXPECT_STREQ(absent.statusText, "USB连接状态: 失败");
  EXPECT_FALSE(absent.connected);
  EXPECT_FALSE(absent.readUsbEnabled);
  EXPECT_EQ(absent.nextPeriodMs, 800);
  EXPECT_FALSE(DecidePresence(false, true).readUsbEnabled);
}

TEST(PresencePoll, PresentDeviceEnablesReadUsbUnlessReading) {
  const PresenceOutcome present = DecidePresence(true, false);
  EXPECT_STREQ(present.statusText, "USB连接状态: 成功");
  EXPECT_TRUE(present.connected);
  EXPECT_TRUE(present.readUsbEnabled);
  EXPECT_EQ(present.nextPeriodMs, 1000);
  const PresenceOutcome reading = DecidePresence(true, true);
  EXPECT_TRUE(reading.connected);
  EXPECT_FALSE(reading.readUsbEnabled);
}

TEST(MainWindowPlacement, SizedFromTheBitmapAndCentredWithIntegerHalving) {
  const WindowRect shipped = MainWindowRect(1024, 768, 500, 233);
  EXPECT_EQ(shipped.width, 500);
  EXPECT_EQ(shipped.height, 353);
  EXPECT_EQ(shipped.left, 512 - 250);
  EXPECT_EQ(shipped.top, 384 - 176);
  // Each half drops its remainder separately: 1025/2 - 301/2 = 512 - 150.
  const WindowRect odd = MainWindowRect(1025, 769, 301, 151);
  EXPECT_EQ(odd.left, 362);
  EXPECT_EQ(odd.top, 384 - 135);
  EXPECT_EQ(odd.height, 271);
}

TEST(StatusMonitor, ClearsOnlyAbove16384Characters) {
  EXPECT_FALSE(StatusMonitorOverflows(0));
  EXPECT_FALSE(StatusMonitorOverflows(16384));
  EXPECT_TRUE(StatusMonitorOverflows(16385));
}

TEST(StatusMonitor, SerialBufferKeepsAtMost1023BytesUpToAZero) {
  EXPECT_EQ(SerialBufferText("hello", 5), "hello");
  EXPECT_EQ(SerialBufferText("ab\0cd", 5), "ab");
  EXPECT_EQ(SerialBufferText(nullptr, 10), "");
  const std::string big(5000, 'x');
  EXPECT_EQ(SerialBufferText(big.data(), big.size()).size(), 1023u);
}

TEST(MainFont, SongFacesComeFirstAndTheFirstPresentOneIsChosen) {
  const auto& faces = MainFontCandidates();
  ASSERT_GE(faces.size(), 3u);
  EXPECT_EQ(faces[0], "宋体");
  EXPECT_EQ(faces[1], "SimSun");
  const auto uming = std::find(faces.begin(), faces.end(), "AR PL UMing CN");
  const auto zenHei = std::find(faces.begin(), faces.end(), "WenQuanYi Zen Hei");
  ASSERT_NE(uming, faces.end());
  ASSERT_NE(zenHei, faces.end());
  EXPECT_LT(uming, zenHei);

  const std::set<std::string> installed = {"WenQuanYi Zen Hei", "AR PL UMing CN", "DejaVu Sans"};
  auto has = [&](const std::string& f) { return installed.count(f) > 0; };
  EXPECT_EQ(ChooseFace(faces, has), "AR PL UMing CN");
  EXPECT_EQ(ChooseFace(faces, [](const std::string&) { return false; }), "");
}

TEST(LineEnds, FieldsKeepCrLfControlsShowLf) {
  EXPECT_EQ(ToControlLineEnds("V1.0\r\n语音文件更新完成！\r\n"), "V1.0\n语音文件更新完成！\n");
  EXPECT_EQ(FromControlLineEnds("V1.0\n\nx"), "V1.0\r\n\r\nx");
  EXPECT_EQ(FromControlLineEnds("a\r\nb"), "a\r\nb");  // not doubled
  const std::string log = "V1.0\r\nline\r\n\r\nend";
  EXPECT_EQ(FromControlLineEnds(ToControlLineEnds(log)), log);
  EXPECT_EQ(ToControlLineEnds("lone\rcr"), "lone\rcr");
}

}  // namespace
}  // namespace edog
