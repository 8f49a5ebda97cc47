// Cancel in the three tool windows, one rule on the virtual display: Cancel or Esc during a
// run stops it at its next step, removes what it wrote, says so and closes the window;
// after the run's end Cancel just closes. Each run is held at a step once it has written
// a file (ToolRun::HoldStepsWhile), so the Cancel lands mid-run without racing it.
#include <gtest/gtest.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "GuiTestSupport.h"
#include "common/Files.h"
#include "support/TestSupport.h"
#include "tools/ToolTexts.h"
#include "tools/ui/HeaderGenDlg.h"
#include "tools/ui/SelImgFiles.h"
#include "tools/ui/SelWavFiles.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::Click;
using guitest::RunLoopUntil;

enum class Press { kCancel, kEscape, kCancelAfterTheEnd };

class ToolCancel;

struct ToolWindowCase {
  const char* name;
  std::vector<std::pair<const char*, const char*>> inputs;  // corpus file, copied as
  // Makes the window with the inputs chosen; its run, and how the run is started.
  std::function<wxDialog*(ToolCancel&)> open;
  std::function<ToolRun&(wxDialog&)> run;
  int startId;
  int cancelId;                      // the window's Cancel (Header Generation: End)
  std::vector<int> restingIds;       // controls off while the run works
  const char* writtenMidway;         // once this exists the run is held at its next step
  std::vector<const char*> outputs;  // what a finished run leaves beside the inputs
  std::vector<std::string> endBoxes;
};

class ToolCancel : public ::testing::TestWithParam<std::tuple<size_t, Press>> {
 protected:
  void SetUp() override {
    previousFiles_ = SetOpenFileHandler([this](const OpenFileRequest&) { return answer_; });
    previousBox_ = SetMessageBoxHandler([this](const wxString& text, const wxString&, long, wxWindow*) {
      boxes_.push_back(ToU8(text));
      return wxOK;
    });
  }
  void TearDown() override {
    dlg_.reset();
    SetOpenFileHandler(previousFiles_);
    SetMessageBoxHandler(previousBox_);
  }
  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
      names.insert(e.path().filename().string());
    return names;
  }
  void PressEscape(wxWindow* stop) {
    // A real key through the display, wherever the run left the focus: the start button
    // the user pressed has gone off, so the window must have moved it to its stop button.
    dlg_->Raise();
    ASSERT_TRUE(RunLoopUntil([&] { return wxWindow::FindFocus() == stop; }))
        << "the focus is not on the stop button during the run";
    wxUIActionSimulator keys;
    keys.Char(WXK_ESCAPE);
  }

 public:
  test::TempDir dir_;
  std::vector<wxString> answer_;
  std::vector<std::string> boxes_;
  VoiceGeneration generation_;
  OpenFileHandler previousFiles_;
  MessageBoxHandler previousBox_;
  std::unique_ptr<wxDialog, guitest::DestroyWindow> dlg_;
};

const std::vector<ToolWindowCase>& Cases() {
  static const std::vector<ToolWindowCase> cases = {
      {"SelectImageFiles",
       {{"bmp/bmpsuite/g/pal8.bmp", "pal8.bmp"},
        {"bmp/bmpsuite/g/rgb24.bmp", "rgb24.bmp"},
        {"bmp/bmpsuite/g/pal4rle.bmp", "pal4rle.bmp"}},
       [](ToolCancel&) {
         auto* dlg = new CSelImgFiles(nullptr);
         dlg->Show();
         Click(dlg->FindWindow(CSelImgFiles::IDC_ADD_FILES));
         dynamic_cast<wxTextCtrl*>(dlg->FindWindow(CSelImgFiles::IDC_DISPLAY_SPEED))->ChangeValue("0");
         return dlg;
       },
       [](wxDialog& d) -> ToolRun& { return dynamic_cast<CSelImgFiles&>(d).run_; },
       wxID_OK, wxID_CANCEL,
       {CSelImgFiles::IDC_IMAGE_LIST, CSelImgFiles::IDC_ADD_FILES, CSelImgFiles::IDC_DELETE,
        CSelImgFiles::IDC_MOVE_UP, CSelImgFiles::IDC_MOVE_DOWN, wxID_OK},
       "rgb24.bin",
       {"Image.hdr", "Image.h"},
       {"Finish up converting!!\n\n3 file(s) has been converted to \"Image.hdr\""}},
      {"KovaDataGeneration",
       {{"wav/pyglet_alert_pcm_16_11025_1ch.wav", "a.wav"},
        {"wav/pyglet_alert_pcm_8_22050_1ch.wav", "b.wav"},
        {"wav/hound_waveformatex-16bit-44100Hz-mono.wav", "c.wav"}},
       [](ToolCancel& t) {
         auto* dlg = new CSelWavFiles(nullptr, t.generation_, test::PluginPath(kVoiceEncoderLibrary));
         dlg->Show();
         Click(dlg->FindWindow(CSelWavFiles::IDC_ADD_FILES));
         return dlg;
       },
       [](wxDialog& d) -> ToolRun& { return dynamic_cast<CSelWavFiles&>(d).run_; },
       wxID_OK, wxID_CANCEL,
       {CSelWavFiles::IDC_WAVE_LIST, CSelWavFiles::IDC_ADD_FILES, CSelWavFiles::IDC_DELETE,
        CSelWavFiles::IDC_MOVE_UP, CSelWavFiles::IDC_MOVE_DOWN, wxID_OK},
       "b.enc",
       {"KOVA_DATA.HDR", "KOVA_DATA.h"},
       {"Finish up converting!!\n\n 3 file(s) has been converted to \"KOVA_DATA.HDR\""}},
      {"HeaderGeneration",
       {{"hex/Caterina-Leonardo.hex", "fw.hex"}},
       [](ToolCancel&) {
         auto* dlg = new CHeaderGenDlg(nullptr);
         dlg->Show();
         Click(dlg->FindWindow(CHeaderGenDlg::IDC_FILE_OPEN));
         Click(dlg->FindWindow(CHeaderGenDlg::IDC_OPTION_I));
         return dlg;
       },
       [](wxDialog& d) -> ToolRun& { return dynamic_cast<CHeaderGenDlg&>(d).run_; },
       CHeaderGenDlg::IDC_CONVERT, wxID_OK,
       {CHeaderGenDlg::IDC_FILE_OPEN, CHeaderGenDlg::IDC_CONVERT, CHeaderGenDlg::IDC_OPTION_C},
       "fw.bin",  // the flat image, written before the headered image
       {"fw.bin", "fw.hdr"},
       {}},
  };
  return cases;
}

TEST_P(ToolCancel, DuringARunStopsRemovesSaysSoAndClosesAfterTheEndJustCloses) {
  const ToolWindowCase& c = Cases()[std::get<0>(GetParam())];
  const Press press = std::get<1>(GetParam());
  std::set<std::string> inputs;
  for (const auto& [from, as] : c.inputs) {
    std::filesystem::copy_file(test::CorpusDir() + "/" + from, dir_ / as);
    answer_.push_back(U8(dir_ / as));
    inputs.insert(as);
  }
  dlg_.reset(c.open(*this));
  ToolRun& run = c.run(*dlg_);
  const std::string midway = dir_ / c.writtenMidway;
  if (press != Press::kCancelAfterTheEnd) run.HoldStepsWhile([midway] { return FileExists(midway); });
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  dlg_->FindWindow(c.startId)->SetFocus();  // where a pointer's press leaves it
  Click(dlg_->FindWindow(c.startId));

  if (press == Press::kCancelAfterTheEnd) {
    ASSERT_TRUE(RunLoopUntil([&] { return !run.Running(); }, 20000));
    guitest::Flush();
    EXPECT_EQ(boxes_, c.endBoxes);
    if (auto* header = dynamic_cast<CHeaderGenDlg*>(dlg_.get())) {
      const std::string done = " >> All Process is Done !!!!\r\n";
      EXPECT_EQ(header->report_.substr(header->report_.size() - done.size()), done);
    }
    Click(dlg_->FindWindow(c.cancelId));
    guitest::Flush();
    EXPECT_FALSE(dlg_->IsShown());
    EXPECT_EQ(boxes_, c.endBoxes);  // no second end text, no cancel text
    std::set<std::string> kept = inputs;
    kept.insert(c.outputs.begin(), c.outputs.end());
    EXPECT_EQ(Files(), kept);
    return;
  }

  // The run has written a file and waits at its next step; the window keeps working.
  ASSERT_TRUE(RunLoopUntil([&] { return FileExists(midway); }, 20000));
  ASSERT_TRUE(run.Running());
  for (int id : c.restingIds) EXPECT_FALSE(dlg_->FindWindow(id)->IsEnabled()) << id;
  if (press == Press::kCancel) {
    guitest::Flush();
    guitest::SaveArtifact(guitest::Capture(dlg_.get()), std::string("cancel-mid-run-") + c.name + ".png");
  }
  if (press == Press::kEscape) {
    PressEscape(dlg_->FindWindow(c.cancelId));
  } else {
    Click(dlg_->FindWindow(c.cancelId));
  }
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->IsShown(); }, 20000));
  EXPECT_FALSE(run.Running());
  guitest::Flush();
  EXPECT_EQ(boxes_, std::vector<std::string>{kRunCancelledText});
  EXPECT_EQ(Files(), inputs);  // neither outputs nor temporary files stay
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<size_t, Press>>& info) {
  static const char* const kPresses[] = {"Cancel", "Escape", "CancelAfterTheEnd"};
  return std::string(Cases()[std::get<0>(info.param)].name) +
         kPresses[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ToolCancel,
    ::testing::Combine(::testing::Range<size_t>(0, Cases().size()),
                       ::testing::Values(Press::kCancel, Press::kEscape, Press::kCancelAfterTheEnd)),
    CaseName);

}  // namespace
}  // namespace edog
