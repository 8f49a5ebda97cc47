// The voice data generator window (template 132) on the virtual display: adding files with
// their refusals, the list edits, the compression-bits toggles, the run started from OK
// with its completion box, the lists shown again at the next opening, and the same bytes
// as edogtool voice.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "GuiTestSupport.h"
#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "support/TestSupport.h"
#include "tools/ToolTexts.h"
#include "tools/ui/SelWavFiles.h"
#include "widgets/FileDialog.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::Click;
using guitest::RunLoopUntil;

std::string Encoder() {
  return test::PluginPath(kVoiceEncoderLibrary);
}

const char kMonoA[] = "pyglet_alert_pcm_16_11025_1ch.wav";
const char kMonoB[] = "pyglet_alert_pcm_8_22050_1ch.wav";
const char kMonoC[] = "hound_waveformatex-16bit-44100Hz-mono.wav";
const char kStereo[] = "hound_waveformatex-16bit-44100Hz-stereo.wav";
const char kNotWave[] = "scipy_test-44100Hz-be-1ch-4bytes.wav";  // RIFX

class VoiceWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    previousFiles_ = SetOpenFileHandler([this](const OpenFileRequest& r) {
      requests_.push_back(r);
      std::vector<wxString> out;
      for (const auto& p : answer_) out.push_back(U8(p));
      return out;
    });
    previousBox_ = SetMessageBoxHandler([this](const wxString& text, const wxString&, long, wxWindow*) {
      boxes_.push_back(ToU8(text));
      if (onBox_) onBox_();
      return wxOK;
    });
  }
  void TearDown() override {
    dlg_.reset();
    SetOpenFileHandler(previousFiles_);
    SetMessageBoxHandler(previousBox_);
  }
  std::string Copy(const std::string& corpusName, const std::string& as = {}) {
    const std::string path = dir_ / (as.empty() ? corpusName : as);
    std::filesystem::copy_file(test::CorpusDir() + "/wav/" + corpusName, path);
    return path;
  }
  void Open() {
    dlg_.reset(new CSelWavFiles(nullptr, generation_, Encoder()));
    dlg_->Show();
  }
  void Add(std::vector<std::string> paths) {
    answer_ = std::move(paths);
    Click(dlg_->FindWindow(CSelWavFiles::IDC_ADD_FILES));
  }
  wxListCtrl& List() { return *dlg_->waveList_; }
  std::vector<std::string> Column(int c) {
    std::vector<std::string> out;
    for (long i = 0; i < List().GetItemCount(); ++i) out.push_back(ToU8(List().GetItemText(i, c)));
    return out;
  }
  void Select(std::initializer_list<long> rows) {
    for (long i = 0; i < List().GetItemCount(); ++i) List().SetItemState(i, 0, wxLIST_STATE_SELECTED);
    for (long r : rows) List().SetItemState(r, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  }
  std::vector<int> Selected() {
    std::vector<int> out;
    for (long i = 0; i < List().GetItemCount(); ++i)
      if (List().GetItemState(i, wxLIST_STATE_SELECTED)) out.push_back(static_cast<int>(i));
    return out;
  }

  test::TempDir dir_;
  VoiceGeneration generation_;
  std::vector<std::string> answer_;
  std::vector<OpenFileRequest> requests_;
  std::vector<std::string> boxes_;
  std::function<void()> onBox_;
  OpenFileHandler previousFiles_;
  MessageBoxHandler previousBox_;
  std::unique_ptr<CSelWavFiles, guitest::DestroyWindow> dlg_;
};

TEST_F(VoiceWindow, OpensWithFiveColumnsAndItsDefaults) {
  Open();
  EXPECT_EQ(dlg_->GetTitle(), "KOVA Data Generation");
  EXPECT_EQ(guitest::ClippedControls(dlg_.get()), std::vector<std::string>{});
  const char* headings[] = {"Name", "Freq", "N bit Comp", "Size", "Dir"};
  const int widths[] = {200, 50, 70, 70, 300};
  ASSERT_EQ(List().GetColumnCount(), 5);
  for (int c = 0; c < 5; ++c) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_FORMAT);
    ASSERT_TRUE(List().GetColumn(c, item));
    EXPECT_EQ(item.GetText(), headings[c]);
    EXPECT_EQ(List().GetColumnWidth(c), widths[c]);
    EXPECT_EQ(item.GetAlign(), c == 0 || c == 4 ? wxLIST_FORMAT_LEFT : wxLIST_FORMAT_RIGHT);
  }
  EXPECT_FALSE(dlg_->bitsChangeButton_->IsEnabled());
  EXPECT_EQ(dlg_->progress_->GetStartColor(), 0x808000u);
  EXPECT_EQ(dlg_->progress_->GetEndColor(), 0x800000u);
  EXPECT_EQ(dlg_->progress_->GetTextColor(), 0x8000u);
  EXPECT_TRUE(dlg_->progress_->IsPercentShown());
  EXPECT_EQ(dynamic_cast<wxTextCtrl*>(dlg_->FindWindow(CSelWavFiles::IDC_OUTPUT_NAME))->GetValue(),
            "KOVA_DATA.HDR");
  EXPECT_TRUE(dynamic_cast<wxCheckBox*>(dlg_->FindWindow(CSelWavFiles::IDC_TEMP_CLEAN))->GetValue());
  EXPECT_TRUE(dlg_->serialRadio_->GetValue());
  EXPECT_TRUE(dlg_->usbRadio_->GetValue());
  auto* address = dynamic_cast<wxTextCtrl*>(dlg_->FindWindow(CSelWavFiles::IDC_ADDRESS));
  EXPECT_EQ(address->GetValue(), "0");
  address->SetValue("4ab0");  // the address field takes upper case
  EXPECT_EQ(address->GetValue(), "4AB0");
}

TEST_F(VoiceWindow, RefusedFilesAreNamedAndTheRestIsAdded) {
  Open();
  const std::string a = Copy(kMonoA), stereo = Copy(kStereo), bad = Copy(kNotWave), c = Copy(kMonoC);
  const std::string missing = dir_ / "missing.wav";
  Add({a, stereo, bad, missing, c});
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, "Select Wave Files");
  EXPECT_EQ(requests_[0].filter, "Wav(*.wav) |*.wav| All File(*.*) |*.*||");
  EXPECT_TRUE(requests_[0].multiple);

  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0], std::string(kStereo) + " : Stereo File is not supported.\nUse mono wave file.");
  EXPECT_NE(boxes_[1].find(bad), std::string::npos) << boxes_[1];
  EXPECT_NE(boxes_[2].find(missing), std::string::npos) << boxes_[2];
  EXPECT_EQ(Column(0), (std::vector<std::string>{kMonoA, kMonoC}));
  EXPECT_EQ(Column(1), (std::vector<std::string>{"11025", "44100"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"4", "4"}));
  EXPECT_EQ(Column(3), (std::vector<std::string>{std::to_string(*FileSize(a)), std::to_string(*FileSize(c))}));
  EXPECT_EQ(Column(4), (std::vector<std::string>{a, c}));
}

TEST_F(VoiceWindow, MoveWalksStopAtTheFirstRowThatCannotMove) {
  Open();
  std::vector<std::string> files;
  for (const char* n : {"r0.wav", "r1.wav", "r2.wav", "r3.wav", "r4.wav"}) files.push_back(Copy(kMonoA, n));
  Add(files);
  const std::vector<std::string> original = {"r0.wav", "r1.wav", "r2.wav", "r3.wav", "r4.wav"};

  Select({0, 2});
  Click(dlg_->moveUpButton_);
  EXPECT_EQ(Column(0), original);
  EXPECT_EQ(Selected(), (std::vector<int>{0, 2}));

  Select({1, 3});
  Click(dlg_->moveUpButton_);
  EXPECT_EQ(Column(0), (std::vector<std::string>{"r1.wav", "r0.wav", "r3.wav", "r2.wav", "r4.wav"}));
  EXPECT_EQ(Column(4)[0], files[1]);  // the whole row moved
  EXPECT_EQ(Selected(), (std::vector<int>{0, 2}));
  EXPECT_EQ(List().GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED), 2);
  EXPECT_EQ(wxWindow::FindFocus() == &List() || List().IsDescendant(wxWindow::FindFocus()), true);

  const std::vector<std::string> before = Column(0);
  Select({1, 4});
  Click(dlg_->moveDownButton_);
  EXPECT_EQ(Column(0), before);

  Select({1, 3});
  Click(dlg_->deleteButton_);
  EXPECT_EQ(Column(0), (std::vector<std::string>{"r1.wav", "r3.wav", "r4.wav"}));
}

TEST_F(VoiceWindow, CompressionBitsToggleByButtonAndByDoubleClickInColumnTwo) {
  Open();
  Add({Copy(kMonoA, "a.wav"), Copy(kMonoA, "b.wav"), Copy(kMonoA, "c.wav")});
  auto* option = dynamic_cast<wxCheckBox*>(dlg_->FindWindow(CSelWavFiles::IDC_RATE_BITS));

  // Without the option the button is off and double clicks change nothing.
  dlg_->OnListDoubleClick(0, 2);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"4", "4", "4"}));
  Click(option);
  EXPECT_TRUE(dlg_->bitsChangeButton_->IsEnabled());

  Select({0, 2});
  Click(dlg_->bitsChangeButton_);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"3", "4", "3"}));
  Click(dlg_->bitsChangeButton_);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"4", "4", "4"}));
  List().SetItem(1, 2, "7");
  Select({1});
  Click(dlg_->bitsChangeButton_);
  EXPECT_EQ(Column(2)[1], "4");

  dlg_->OnListDoubleClick(1, 2);
  EXPECT_EQ(Column(2)[1], "3");
  for (long column : {0L, 1L, 3L, 4L, -1L}) dlg_->OnListDoubleClick(1, column);
  dlg_->OnListDoubleClick(-1, 2);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"4", "3", "4"}));

  // Real double clicks with the pointer: on row 0's bits, then on its name.
  wxRect cell;
  ASSERT_TRUE(List().GetSubItemRect(0, 2, cell));
  wxUIActionSimulator mouse;
  dlg_->Raise();
  guitest::Flush();
  mouse.MouseMove(List().ClientToScreen(cell.GetPosition() + wxPoint(cell.width / 2, cell.height / 2)));
  guitest::Flush();
  mouse.MouseDblClick();
  ASSERT_TRUE(RunLoopUntil([&] { return Column(2)[0] == "3"; }, 3000));
  ASSERT_TRUE(List().GetSubItemRect(0, 0, cell));
  mouse.MouseMove(List().ClientToScreen(cell.GetPosition() + wxPoint(cell.width / 2, cell.height / 2)));
  guitest::Flush();
  mouse.MouseDblClick();
  guitest::Flush();
  EXPECT_EQ(Column(2)[0], "3");

  // The option off again: the button goes off and double clicks do nothing.
  Click(option);
  EXPECT_FALSE(dlg_->bitsChangeButton_->IsEnabled());
  dlg_->OnListDoubleClick(0, 2);
  EXPECT_EQ(Column(2)[0], "3");
}

TEST_F(VoiceWindow, RadioButtonsWriteTheGenerationSettingsAtOnce) {
  Open();
  Click(dlg_->nandRadio_);
  EXPECT_EQ(generation_.flashSelection.load(), kSelectNand);
  EXPECT_FALSE(dlg_->serialRadio_->GetValue());
  Click(dlg_->uartRadio_);
  EXPECT_EQ(generation_.portSelection.load(), kSelectUart);
  EXPECT_FALSE(dlg_->usbRadio_->GetValue());
  Click(dlg_->serialRadio_);
  EXPECT_EQ(generation_.flashSelection.load(), kSelectSerial);
}

TEST_F(VoiceWindow, EmptyListReportsNoWavFilesAndStaysOpen) {
  Open();
  Click(dlg_->okButton_);
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->Running() && dlg_->okButton_->IsEnabled(); }));
  EXPECT_EQ(boxes_, std::vector<std::string>{"No Wav Files"});
  EXPECT_TRUE(dlg_->IsShown());
}

// Runs the window modally; `act` runs from inside its loop once it is up.
int RunModal(CSelWavFiles& dlg, const std::function<void()>& act) {
  wxTimer driver;
  driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!dlg.IsModal()) return;
    driver.Stop();
    act();
  });
  driver.Start(20);
  return dlg.ShowModal();
}

TEST_F(VoiceWindow, FullRunFromOkMatchesTheCommandLineAndTheListsComeBack) {
  const std::string a = Copy(kMonoA, "Alert.wav"), b = Copy(kMonoB, "beep.wav"), c = Copy(kMonoC, "tone.wav");
  dlg_.reset(new CSelWavFiles(nullptr, generation_, Encoder()));
  bool okOffAtOnce = false;
  onBox_ = [&] {
    if (boxes_.back().rfind("Finish up converting!!", 0) == 0)
      guitest::SaveArtifact(guitest::Capture(dlg_.get()), "kova-data-generation.png");
  };
  const int result = RunModal(*dlg_, [&] {
    Add({a, b, c});
    dynamic_cast<wxTextCtrl*>(dlg_->FindWindow(CSelWavFiles::IDC_ADDRESS))->ChangeValue("40000");
    Click(dlg_->FindWindow(CSelWavFiles::IDC_RATE_BITS));
    Click(dlg_->nandRadio_);
    Select({1});
    Click(dlg_->bitsChangeButton_);
    Click(dlg_->okButton_);
    okOffAtOnce = !dlg_->okButton_->IsEnabled();
  });
  EXPECT_TRUE(okOffAtOnce);
  EXPECT_EQ(result, wxID_OK);
  ASSERT_EQ(boxes_, std::vector<std::string>{
                        "Finish up converting!!\n\n 3 file(s) has been converted to \"KOVA_DATA.HDR\""});
  EXPECT_EQ(dlg_->progress_->GetPos(), 100);
  EXPECT_EQ(generation_.paths, (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(generation_.bits, (std::vector<std::string>{"4", "3", "4"}));
  EXPECT_EQ(generation_.rates, (std::vector<std::string>{"11025", "22050", "44100"}));
  EXPECT_TRUE(generation_.rateAndBits);
  EXPECT_FALSE(FileExists(dir_ / "alert.enc"));
  EXPECT_FALSE(FileExists(dir_ / "Alert.enc"));

  const auto data = test::ReadFile(dir_ / "KOVA_DATA.HDR");
  const std::string header = test::ReadText(dir_ / "KOVA_DATA.h");
  ASSERT_FALSE(data.empty());
  RemoveFile(dir_ / "KOVA_DATA.HDR");
  RemoveFile(dir_ / "KOVA_DATA.h");
  const auto r = test::RunTool({"voice", "--address", "40000", "--flash", "nand", "--rate-bits", a,
                                b + ":3", c});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir_ / "KOVA_DATA.HDR"), data);
  EXPECT_EQ(test::ReadText(dir_ / "KOVA_DATA.h"), header);

  // The next opening lists the same files, bits 4 everywhere, Serial and USB chosen.
  dlg_.reset();
  Open();
  EXPECT_EQ(Column(4), (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"4", "4", "4"}));
  EXPECT_EQ(Column(1), (std::vector<std::string>{"11025", "22050", "44100"}));
  EXPECT_TRUE(dlg_->serialRadio_->GetValue());
  EXPECT_FALSE(dlg_->nandRadio_->GetValue());
  EXPECT_EQ(generation_.flashSelection.load(), kSelectSerial);
  EXPECT_EQ(generation_.portSelection.load(), kSelectUsb);
}

TEST_F(VoiceWindow, FailedRunLeavesOkUsable) {
  dlg_.reset(new CSelWavFiles(nullptr, generation_, dir_ / "no-such-encoder.so"));
  dlg_->Show();
  Add({Copy(kMonoA, "b.wav")});
  Click(dlg_->okButton_);
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->Running() && dlg_->okButton_->IsEnabled(); }));
  EXPECT_EQ(boxes_, std::vector<std::string>{"KOVA Encoder does not exist!"});
  EXPECT_TRUE(dlg_->IsShown());
}

TEST_F(VoiceWindow, CancelStopsARunInProgress) {
  Open();
  std::vector<std::string> files;
  for (int i = 0; i < 100; ++i) files.push_back(Copy(kMonoA, "w" + std::to_string(i) + ".wav"));
  Add(files);
  Click(dlg_->okButton_);
  ASSERT_TRUE(dlg_->Running());
  // The list and its buttons rest while the run works.
  EXPECT_FALSE(dlg_->waveList_->IsEnabled());
  for (wxButton* b : {dlg_->deleteButton_, dlg_->moveUpButton_, dlg_->moveDownButton_})
    EXPECT_FALSE(b->IsEnabled());
  // Esc as Cancel: the run stops at its next step, the window says so and closes.
  wxKeyEvent key(wxEVT_CHAR_HOOK);
  key.m_keyCode = WXK_ESCAPE;
  key.SetEventObject(dlg_.get());
  dlg_->GetEventHandler()->ProcessEvent(key);
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->IsShown(); }, 20000));
  EXPECT_FALSE(dlg_->Running());
  guitest::Flush();
  EXPECT_EQ(boxes_, std::vector<std::string>{kRunCancelledText});
  EXPECT_FALSE(FileExists(dir_ / "KOVA_DATA.HDR"));
  EXPECT_FALSE(FileExists(dir_ / "w0.enc"));
  EXPECT_EQ(generation_.FileCount(), 100u);
}

}  // namespace
}  // namespace edog
