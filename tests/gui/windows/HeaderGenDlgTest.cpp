// The header generator window (template 145) on the virtual display: the option handlers,
// File Open, Convert on the engine's worker, the report pane.
#include <gtest/gtest.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <memory>

#include "GuiTestSupport.h"
#include "support/TestSupport.h"
#include "tools/ui/HeaderGenDlg.h"
#include "update/HeaderedImage.h"
#include "widgets/FileDialog.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::Click;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class HeaderGenWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetOpenFileHandler([this](const OpenFileRequest& r) {
      requests_.push_back(r);
      return answer_;
    });
    dlg_.reset(new CHeaderGenDlg(nullptr));
    dlg_->Show();
  }
  void TearDown() override { SetOpenFileHandler(previous_); }

  wxWindow* Control(int id) { return dlg_->FindWindow(id); }
  std::string AddressText() { return ToU8(dlg_->addressEdit_->GetValue()); }
  // The report as the pane shows it, with the line ends the member keeps.
  std::string Pane() {
    std::string text = ToU8(dlg_->reportEdit_->GetValue()), out;
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }
  void ChooseFile(const std::string& path) {
    answer_ = {U8(path)};
    Click(Control(CHeaderGenDlg::IDC_FILE_OPEN));
  }
  // Convert, and the loop runs until the conversion has ended and its lines are shown.
  void ConvertNow() {
    Click(Control(CHeaderGenDlg::IDC_CONVERT));
    ASSERT_TRUE(guitest::RunLoopUntil([&] { return !dlg_->Running(); }, 20000));
    guitest::Flush();
  }
  void Convert(const std::string& address) {
    dlg_->addressEdit_->ChangeValue(address);
    ConvertNow();
  }

  std::unique_ptr<CHeaderGenDlg, guitest::DestroyWindow> dlg_;
  std::vector<wxString> answer_;
  std::vector<OpenFileRequest> requests_;
  OpenFileHandler previous_;
  test::TempDir dir_;
};

TEST_F(HeaderGenWindow, OpensWithOptionCAndItsReportLine) {
  EXPECT_EQ(dlg_->GetTitle(), "Header Generation");
  EXPECT_EQ(dlg_->report_, " >> IHX 2 BIN Conversion\t[Enable] With Offset 0x1000\r\n");
  EXPECT_EQ(Pane(), dlg_->report_);
  EXPECT_TRUE(dlg_->optionRadios_[0]->GetValue());
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(dlg_->optionRadios_[i]->GetValue()) << i;
  EXPECT_TRUE(dlg_->serialRadio_->GetValue());
  EXPECT_TRUE(dlg_->usbRadio_->GetValue());
  EXPECT_FALSE(dlg_->serialRadio_->IsEnabled());
  EXPECT_FALSE(dlg_->nandRadio_->IsEnabled());
  EXPECT_EQ(AddressText(), "0x1000");
  EXPECT_EQ(dlg_->step3Box_->GetLabel(), "Step 3. Offset");
  EXPECT_EQ(dynamic_cast<wxStaticText*>(Control(CHeaderGenDlg::IDC_INPUT_PATH))->GetLabel(), "..");
}

TEST_F(HeaderGenWindow, EachOptionSetsAddressLabelStatesAndAppendsItsLine) {
  struct Case {
    int id;
    const char* flag;
    const char* address;
    const char* label;
    bool editable, flash;
    const char* line;
  };
  const Case cases[] = {
      {CHeaderGenDlg::IDC_OPTION_I, "-I", "0x0", "Step 3. Download Address", false, false,
       " >> IHX 2 BIN Conversion\t[Enable] Without Offset\r\n"},
      {CHeaderGenDlg::IDC_OPTION_N, "-N", "0x0", "Step 3. Download Address", true, false,
       " >> IHX 2 BIN Conversion\t[Disable]\r\n"},
      {CHeaderGenDlg::IDC_OPTION_S, "-S", "0x0", "Step 3. Download Address", true, true,
       " >> IHX 2 BIN Conversion\t[Disable]\r\n"},
      {CHeaderGenDlg::IDC_OPTION_M, "-M", "0x1000", "Step 3. Offset", true, false,
       " >> IHX 2 BIN Conversion\t[Disable] With Offset 0x1000\r\n"},
      {CHeaderGenDlg::IDC_OPTION_C, "-C", "0x1000", "Step 3. Offset", true, false,
       " >> IHX 2 BIN Conversion\t[Enable] With Offset 0x1000\r\n"},
  };
  std::string expected = dlg_->report_;
  for (const Case& c : cases) {
    dlg_->addressEdit_->ChangeValue("0x7777");  // replaced by every option
    Click(Control(c.id));
    expected += c.line;
    EXPECT_EQ(dlg_->convertFlag_, c.flag);
    EXPECT_EQ(AddressText(), c.address) << c.flag;
    EXPECT_EQ(dlg_->addressText_, c.address) << c.flag;
    EXPECT_EQ(ToU8(dlg_->step3Box_->GetLabel()), c.label) << c.flag;
    EXPECT_EQ(dlg_->addressEdit_->IsEnabled(), c.editable) << c.flag;
    EXPECT_EQ(dlg_->serialRadio_->IsEnabled(), c.flash) << c.flag;
    EXPECT_EQ(dlg_->nandRadio_->IsEnabled(), c.flash) << c.flag;
    EXPECT_EQ(dlg_->hexConversion_, c.flag[1] == 'C' || c.flag[1] == 'I') << c.flag;
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(dlg_->optionRadios_[i]->GetValue(), dlg_->optionRadios_[i]->GetId() == c.id);
    EXPECT_EQ(dlg_->report_, expected);
    EXPECT_EQ(Pane(), expected);
  }
  // The pane is scrolled to its end: the last line is in view.
  long column = 0, line = 0;
  ASSERT_TRUE(dlg_->reportEdit_->PositionToXY(dlg_->reportEdit_->GetLastPosition(), &column, &line));
  EXPECT_EQ(line, dlg_->reportEdit_->GetNumberOfLines() - 1);
}

TEST_F(HeaderGenWindow, RadioPairsAreExclusive) {
  Click(Control(CHeaderGenDlg::IDC_OPTION_S));
  Click(dlg_->nandRadio_);
  EXPECT_TRUE(dlg_->nandRadio_->GetValue());
  EXPECT_FALSE(dlg_->serialRadio_->GetValue());
  Click(dlg_->uartRadio_);
  EXPECT_TRUE(dlg_->uartRadio_->GetValue());
  EXPECT_FALSE(dlg_->usbRadio_->GetValue());
  EXPECT_TRUE(dlg_->nandRadio_->GetValue());  // the other pair keeps its choice
  Click(dlg_->serialRadio_);
  EXPECT_TRUE(dlg_->serialRadio_->GetValue());
  EXPECT_FALSE(dlg_->nandRadio_->GetValue());
}

TEST_F(HeaderGenWindow, AddressNotOnA512BoundaryRefusedByCAcceptedByN) {
  const std::string hex = dir_ / "fw.hex";
  test::WriteFile(hex, std::string(":0400000001020304F2\r\n:00000001FF\r\n"));
  ChooseFile(hex);
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].filter, "All File(*.*) |*.*||");
  EXPECT_FALSE(requests_[0].multiple);
  EXPECT_NE(Pane().find(hex + " Selected ...\r\n"), std::string::npos);
  EXPECT_EQ(dynamic_cast<wxStaticText*>(Control(CHeaderGenDlg::IDC_INPUT_PATH))->GetLabel(), U8(hex));

  Convert("0x1100");
  std::string pane = Pane();
  EXPECT_NE(pane.find(" >> Convert flag\t\t\t[-C]\r\n"), std::string::npos);
  EXPECT_NE(pane.find(" >> Target/Offset Address\t\t[0x1100]\r\n"), std::string::npos);
  EXPECT_TRUE(EndsWith(pane, " >> Download_Target_Address Check Error ..Exit.\r\n")) << pane;

  const std::string bin = dir_ / "raw.dat";
  test::WriteFile(bin, test::RandomBytes(100, 7));
  ChooseFile(bin);
  Click(Control(CHeaderGenDlg::IDC_OPTION_N));
  Convert("0x1100");
  pane = Pane();
  EXPECT_TRUE(EndsWith(pane, " >> All Process is Done !!!!\r\n")) << pane;
  const auto out = test::ReadFile(dir_ / "raw.hdr");
  ASSERT_EQ(out.size(), 1024u + 128u);
  const HeaderFields h = ParseHeaderFields(out.data());
  EXPECT_EQ(h.startAddress, 0x1100u);
  EXPECT_EQ(h.flash, kFlashE);
  EXPECT_EQ(h.port, 1);
  EXPECT_EQ(h.fileSize, 128u);
}

TEST_F(HeaderGenWindow, ConvertFollowsTheFlashAndPortRadiosAndReportsAMissingInput) {
  ConvertNow();
  EXPECT_TRUE(EndsWith(Pane(), " >> Cannot open file!\r\n")) << Pane();

  const std::string bin = dir_ / "ext.raw";
  test::WriteFile(bin, test::RandomBytes(1500, 3));
  ChooseFile(bin);
  Click(Control(CHeaderGenDlg::IDC_OPTION_S));
  Click(dlg_->nandRadio_);
  Click(dlg_->uartRadio_);
  Convert("0x200");  // NAND addresses count 512-byte blocks
  const auto out = test::ReadFile(dir_ / "ext.hdr");
  ASSERT_EQ(out.size(), 1024u + 2048u);
  const HeaderFields h = ParseHeaderFields(out.data());
  EXPECT_EQ(h.flash, kFlashNand);
  EXPECT_EQ(h.port, 0);
  EXPECT_EQ(h.startAddress, 0x200u);
  EXPECT_EQ(h.packetCount, 2u);
}

TEST_F(HeaderGenWindow, ScreenshotAfterAConversion) {
  const std::string hex = dir_ / "blink.hex";
  std::filesystem::copy_file(test::CorpusDir() + "/hex/Caterina-Leonardo.hex", hex);
  ChooseFile(hex);
  Click(Control(CHeaderGenDlg::IDC_OPTION_I));
  ConvertNow();
  EXPECT_NE(dlg_->report_.find(" >> All Process is Done !!!!\r\n"), std::string::npos) << dlg_->report_;
  guitest::SaveArtifact(guitest::Capture(dlg_.get()), "header-generation.png");
  EXPECT_EQ(guitest::ClippedControls(dlg_.get()), std::vector<std::string>{});
}

}  // namespace
}  // namespace edog
