// The image table generator window (template 146) on the virtual display: the list, the
// run on its worker thread with the preview, Cancel during a run, and the same bytes as
// edogtool images.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <memory>

#include "GuiTestSupport.h"
#include "common/Files.h"
#include "support/TestSupport.h"
#include "tools/ToolTexts.h"
#include "tools/ui/SelImgFiles.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::Click;
using guitest::RunLoopUntil;

const char* const kPictures[] = {"pal8.bmp", "rgb24.bmp", "rgb16-565.bmp", "pal4rle.bmp"};

class ImageTableWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kPictures) {
      const std::string path = dir_ / name;
      std::filesystem::copy_file(test::CorpusDir() + "/bmp/bmpsuite/g/" + name, path);
      pictures_.push_back(path);
    }
    previousFiles_ = SetOpenFileHandler([this](const OpenFileRequest& r) {
      requests_.push_back(r);
      std::vector<wxString> out;
      for (const auto& p : pictures_) out.push_back(U8(p));
      return out;
    });
    previousBox_ = SetMessageBoxHandler([this](const wxString& text, const wxString&, long, wxWindow*) {
      boxes_.push_back(ToU8(text));
      return wxOK;
    });
    dlg_.reset(new CSelImgFiles(nullptr));
    dlg_->Show();
  }
  void TearDown() override {
    dlg_.reset();
    SetOpenFileHandler(previousFiles_);
    SetMessageBoxHandler(previousBox_);
  }
  wxWindow* Control(int id) { return dlg_->FindWindow(id); }
  wxTextCtrl* Edit(int id) { return dynamic_cast<wxTextCtrl*>(Control(id)); }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (long i = 0; i < dlg_->imageList_->GetItemCount(); ++i)
      out.push_back(ToU8(dlg_->imageList_->GetItemText(i, 0)));
    return out;
  }
  bool RunEnded() { return !dlg_->Running() && dlg_->okButton_->IsEnabled(); }

  test::TempDir dir_;
  std::vector<std::string> pictures_;
  std::vector<OpenFileRequest> requests_;
  std::vector<std::string> boxes_;
  OpenFileHandler previousFiles_;
  MessageBoxHandler previousBox_;
  std::unique_ptr<CSelImgFiles, guitest::DestroyWindow> dlg_;
};

TEST_F(ImageTableWindow, OpensWithItsColumnsAndDefaults) {
  EXPECT_EQ(dlg_->GetTitle(), "Select Image Files");
  EXPECT_EQ(guitest::ClippedControls(dlg_.get()), std::vector<std::string>{});
  wxListCtrl& list = *dlg_->imageList_;
  ASSERT_EQ(list.GetColumnCount(), 3);
  const char* headings[] = {"Name", "Size", "Dir"};
  const int widths[] = {150, 70, 350};
  for (int c = 0; c < 3; ++c) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_FORMAT);
    ASSERT_TRUE(list.GetColumn(c, item));
    EXPECT_EQ(item.GetText(), headings[c]);
    EXPECT_EQ(list.GetColumnWidth(c), widths[c]);
    EXPECT_EQ(item.GetAlign(), c == 1 ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT);
  }
  EXPECT_EQ(Edit(CSelImgFiles::IDC_ADDRESS)->GetValue(), "0");
  EXPECT_EQ(Edit(CSelImgFiles::IDC_DISPLAY_SPEED)->GetValue(), "100");
  EXPECT_EQ(Edit(CSelImgFiles::IDC_OUTPUT_NAME)->GetValue(), "Image.hdr");
  EXPECT_TRUE(dynamic_cast<wxCheckBox*>(Control(CSelImgFiles::IDC_TEMP_CLEAN))->GetValue());
  EXPECT_TRUE(dlg_->serialRadio_->GetValue());
  EXPECT_FALSE(dlg_->nandRadio_->GetValue());
  EXPECT_TRUE(dlg_->usbRadio_->GetValue());
  EXPECT_EQ(dlg_->progress_->GetValue(), 0);
}

TEST_F(ImageTableWindow, AddFilesAppendsNameSizePathAndTheListEdits) {
  Click(Control(CSelImgFiles::IDC_ADD_FILES));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, "Select Image Files");
  EXPECT_EQ(requests_[0].filter, "Image(*.bmp)|*.bmp|All File(*.*)|*.*|");
  EXPECT_TRUE(requests_[0].multiple);
  ASSERT_EQ(Names(), (std::vector<std::string>{"pal8.bmp", "rgb24.bmp", "rgb16-565.bmp", "pal4rle.bmp"}));
  wxListCtrl& list = *dlg_->imageList_;
  EXPECT_EQ(ToU8(list.GetItemText(1, 1)), std::to_string(*FileSize(pictures_[1])));
  EXPECT_EQ(ToU8(list.GetItemText(1, 2)), pictures_[1]);

  // MoveDown with rows 0 and 2: row 2 first, then row 0; both stay selected.
  list.SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  list.SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  Click(Control(CSelImgFiles::IDC_MOVE_DOWN));
  EXPECT_EQ(Names(), (std::vector<std::string>{"rgb24.bmp", "pal8.bmp", "pal4rle.bmp", "rgb16-565.bmp"}));
  EXPECT_EQ(ToU8(list.GetItemText(3, 2)), pictures_[2]);  // every column moves with its row
  EXPECT_EQ(list.GetSelectedItemCount(), 2);
  EXPECT_TRUE(list.GetItemState(1, wxLIST_STATE_SELECTED));
  EXPECT_TRUE(list.GetItemState(3, wxLIST_STATE_SELECTED));

  // Delete the two selected rows.
  Click(Control(CSelImgFiles::IDC_DELETE));
  EXPECT_EQ(Names(), (std::vector<std::string>{"rgb24.bmp", "pal4rle.bmp"}));
  Click(Control(CSelImgFiles::IDC_DELETE));  // nothing selected: nothing happens
  EXPECT_EQ(list.GetItemCount(), 2);
}

TEST_F(ImageTableWindow, EmptyListSaysNoImageFilesAndOkComesBack) {
  Click(dlg_->okButton_);
  ASSERT_TRUE(RunLoopUntil([&] { return RunEnded(); }));
  EXPECT_EQ(boxes_, std::vector<std::string>{"No Image Files"});
  EXPECT_FALSE(FileExists(dir_ / "Image.hdr"));
}

TEST_F(ImageTableWindow, FullRunGivesTheSameBytesAsTheCommandLine) {
  Click(Control(CSelImgFiles::IDC_ADD_FILES));
  Edit(CSelImgFiles::IDC_ADDRESS)->ChangeValue("40000");
  Edit(CSelImgFiles::IDC_DISPLAY_SPEED)->ChangeValue("0");
  Click(dlg_->nandRadio_);
  Click(dlg_->uartRadio_);
  EXPECT_FALSE(dlg_->serialRadio_->GetValue());
  EXPECT_FALSE(dlg_->usbRadio_->GetValue());

  // The list is locked from OK to the end of the run; the preview shows every picture as
  // decoded and again as read back from its run-length image.
  Click(dlg_->okButton_);
  EXPECT_FALSE(dlg_->okButton_->IsEnabled());
  EXPECT_FALSE(dlg_->imageList_->IsEnabled());
  EXPECT_FALSE(dlg_->FindWindow(CSelImgFiles::IDC_ADD_FILES)->IsEnabled());
  ASSERT_TRUE(RunLoopUntil([&] { return RunEnded(); }, 20000));
  EXPECT_EQ(dlg_->preview_->PicturesShown(), 8);
  const wxImage canvas = dlg_->preview_->Canvas().ConvertToImage();
  EXPECT_EQ(wxColour(canvas.GetRed(0, 0), canvas.GetGreen(0, 0), canvas.GetBlue(0, 0)),
            dlg_->GetBackgroundColour());  // cleared after the last one
  EXPECT_TRUE(dlg_->imageList_->IsEnabled());
  EXPECT_EQ(dlg_->progress_->GetValue(), 100);
  ASSERT_EQ(boxes_, std::vector<std::string>{
                        "Finish up converting!!\n\n4 file(s) has been converted to \"Image.hdr\""});
  EXPECT_EQ(dlg_->imageList_->GetItemCount(), 4);  // a run leaves the list as it was
  guitest::SaveArtifact(guitest::Capture(dlg_.get()), "select-image-files.png");

  // The outputs land where the pictures were chosen from; the per-picture files are gone.
  const auto data = test::ReadFile(dir_ / "Image.hdr");
  const std::string header = test::ReadText(dir_ / "Image.h");
  ASSERT_FALSE(data.empty());
  EXPECT_FALSE(FileExists(dir_ / "pal8.bin"));
  RemoveFile(dir_ / "Image.hdr");
  RemoveFile(dir_ / "Image.h");

  std::vector<std::string> args = {"images", "-o", "Image.hdr", "--address", "40000", "--flash",
                                   "nand", "--port", "uart"};
  args.insert(args.end(), pictures_.begin(), pictures_.end());
  const auto r = test::RunTool(args, dir_.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir_ / "Image.hdr"), data);
  EXPECT_EQ(test::ReadText(dir_ / "Image.h"), header);
}

TEST_F(ImageTableWindow, CancelOrEscDuringARunStopsItRemovesItsOutputsSaysSoAndCloses) {
  for (const bool escape : {false, true}) {
    if (escape) {
      dlg_.reset(new CSelImgFiles(nullptr));
      dlg_->Show();
    }
    Click(Control(CSelImgFiles::IDC_ADD_FILES));
    Edit(CSelImgFiles::IDC_DISPLAY_SPEED)->ChangeValue("600000");  // the first preview waits
    Click(dlg_->okButton_);
    // The run is in its copy step once the address progress (55..60) has been shown.
    ASSERT_TRUE(RunLoopUntil([&] { return dlg_->progress_->GetValue() >= 55; }, 20000));
    ASSERT_TRUE(dlg_->Running());
    for (int id : {CSelImgFiles::IDC_ADD_FILES, CSelImgFiles::IDC_DELETE}) {
      EXPECT_FALSE(Control(id)->IsEnabled()) << id;
    }
    // The first picture, decoded back from its run-length image, stays in the preview.
    const wxColour background = dlg_->GetBackgroundColour();
    ASSERT_TRUE(RunLoopUntil([&] {
      const wxImage canvas = dlg_->preview_->Canvas().ConvertToImage();
      return wxColour(canvas.GetRed(0, 0), canvas.GetGreen(0, 0), canvas.GetBlue(0, 0)) != background;
    }));
    if (!escape) guitest::SaveArtifact(guitest::Capture(dlg_.get()), "select-image-files-preview.png");
    boxes_.clear();
    if (escape) {
      wxKeyEvent key(wxEVT_CHAR_HOOK);
      key.m_keyCode = WXK_ESCAPE;
      key.SetEventObject(dlg_.get());
      dlg_->GetEventHandler()->ProcessEvent(key);
    } else {
      Click(Control(wxID_CANCEL));
    }
    ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->IsShown(); }, 20000)) << escape;
    EXPECT_FALSE(dlg_->Running());
    guitest::Flush();
    EXPECT_EQ(boxes_, std::vector<std::string>{kRunCancelledText}) << escape;
    EXPECT_FALSE(FileExists(dir_ / "Image.hdr"));
    EXPECT_FALSE(FileExists(dir_ / "Image.h"));
    EXPECT_FALSE(FileExists(dir_ / "rgb24.bin"));
  }
}

TEST_F(ImageTableWindow, CancelAfterTheRunJustCloses) {
  Click(Control(CSelImgFiles::IDC_ADD_FILES));
  Edit(CSelImgFiles::IDC_DISPLAY_SPEED)->ChangeValue("0");
  Click(dlg_->okButton_);
  ASSERT_TRUE(RunLoopUntil([&] { return !dlg_->Running() && !boxes_.empty(); }, 20000));
  boxes_.clear();
  Click(Control(wxID_CANCEL));
  guitest::Flush();
  EXPECT_FALSE(dlg_->IsShown());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(FileExists(dir_ / "Image.hdr"));  // a finished run's outputs stay
}

}  // namespace
}  // namespace edog
