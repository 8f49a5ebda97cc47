// The main window's hidden developer buttons open the three tool windows modally.
#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "GuiTestSupport.h"
#include "MainWindowTestPeer.h"
#include "app/MainWindowLogic.h"
#include "app/RS232TestDlg.h"
#include "device/DeviceSocket.h"
#include "support/TestSupport.h"
#include "tools/ui/HeaderGenDlg.h"
#include "tools/ui/SelImgFiles.h"
#include "tools/ui/SelWavFiles.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using Peer = CRS232TestDlgTestPeer;

class ToolButtons : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "nobody.sock").c_str(), 1);
    MainWindowOptions options;
    options.usbLibrary = dir_ / "no-device-library.so";
    main_ = new CRS232TestDlg(nullptr, options);
    main_->Show();
  }
  void TearDown() override {
    main_->Destroy();
    guitest::Flush();
    unsetenv(kDeviceSocketEnv);
  }

  // Clicks the button; `inspect` runs once the window `id` is up modally, which is then
  // closed. Returns whether it was seen.
  bool ClickAndInspect(int button, int id, const std::function<void(wxDialog&)>& inspect) {
    bool seen = false;
    wxTimer driver;
    driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      auto* dlg = dynamic_cast<wxDialog*>(wxWindow::FindWindowById(id));
      if (!dlg || !dlg->IsModal()) return;
      driver.Stop();
      seen = true;
      EXPECT_EQ(dlg->GetParent(), main_);
      inspect(*dlg);
      if (dlg->IsModal()) dlg->EndModal(wxID_CANCEL);
    });
    driver.Start(20);
    guitest::Click(main_->FindWindow(button));  // returns when the window has closed
    driver.Stop();
    return seen;
  }

  test::TempDir dir_;
  CRS232TestDlg* main_ = nullptr;
};

TEST_F(ToolButtons, HeaderGenerationOpensTheHeaderGenerator) {
  ASSERT_FALSE(main_->FindWindow(IDC_HEADER_GENERATION)->IsShown());  // hidden, working
  EXPECT_TRUE(ClickAndInspect(IDC_HEADER_GENERATION, CHeaderGenDlg::IDD, [](wxDialog& d) {
    EXPECT_EQ(d.GetTitle(), "Header Generation");
    EXPECT_NE(dynamic_cast<CHeaderGenDlg*>(&d), nullptr);
  }));
  guitest::Flush();
  EXPECT_EQ(wxWindow::FindWindowById(CHeaderGenDlg::IDD), nullptr);  // destroyed again
}

TEST_F(ToolButtons, EnterInAToolWindowStaysInIt) {
  // The main window ends on Enter; a key pressed in a tool window must not reach it.
  EXPECT_TRUE(ClickAndInspect(IDC_HEADER_GENERATION, CHeaderGenDlg::IDD, [](wxDialog& d) {
    auto& gen = dynamic_cast<CHeaderGenDlg&>(d);
    gen.Raise();
    gen.addressEdit_->SetFocus();
    gen.addressEdit_->SetInsertionPointEnd();
    guitest::Flush();
    wxUIActionSimulator keys;
    keys.Char('7');
    keys.Char(WXK_RETURN);
    guitest::Flush();
    EXPECT_EQ(gen.addressEdit_->GetValue(), "0x10007");  // the keys did arrive
  }));
  guitest::Flush();
  EXPECT_TRUE(main_->IsShown());
}

TEST_F(ToolButtons, SelectImageFilesOpensTheImageTableGenerator) {
  EXPECT_TRUE(ClickAndInspect(IDC_SELECT_IMAGES, CSelImgFiles::IDD, [](wxDialog& d) {
    EXPECT_EQ(d.GetTitle(), "Select Image Files");
    EXPECT_NE(dynamic_cast<CSelImgFiles*>(&d), nullptr);
  }));
  guitest::Flush();
  EXPECT_EQ(wxWindow::FindWindowById(CSelImgFiles::IDD), nullptr);
}

TEST_F(ToolButtons, KovaDataGenerationShowsTheMainWindowsGenerationLists) {
  const std::string wave = dir_ / "hello.wav";
  std::filesystem::copy_file(test::CorpusDir() + "/wav/pyglet_alert_pcm_16_11025_1ch.wav", wave);
  Peer(*main_).VoiceGeneration().AddFile(wave, "11025", "3");
  for (int opening = 0; opening < 2; ++opening) {
    EXPECT_TRUE(ClickAndInspect(IDC_KOVA_DATA, CSelWavFiles::IDD, [&](wxDialog& d) {
      auto* voice = dynamic_cast<CSelWavFiles*>(&d);
      ASSERT_NE(voice, nullptr);
      EXPECT_EQ(d.GetTitle(), "KOVA Data Generation");
      ASSERT_EQ(voice->waveList_->GetItemCount(), 1);
      EXPECT_EQ(ToU8(voice->waveList_->GetItemText(0, CSelWavFiles::kDir)), wave);
      EXPECT_EQ(voice->waveList_->GetItemText(0, CSelWavFiles::kBits), "4");
    }));
  }
}

}  // namespace
}  // namespace edog
