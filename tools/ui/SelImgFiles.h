#pragma once
// The image table generator window, dialog template 146 ("Select Image Files"): a list of
// bitmap pictures, the target settings, and OK, which runs the generation on a worker
// thread while the window shows each picture, the progress and the OK button's state.
#include <wx/dialog.h>
#include <wx/bitmap.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/ImageTable.h"
#include "tools/ToolRun.h"

class wxButton;
class wxCheckBox;
class wxGauge;
class wxListCtrl;
class wxRadioButton;
class wxTextCtrl;
class UiCallTarget;

// The preview pane (static 1043): what the run shows of each picture, drawn at the pane's
// top-left corner over its background colour.
class CImagePreview : public wxWindow {
 public:
  CImagePreview(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  void ShowPicture(const edog::Picture& picture);
  // Paints width x height pixels at the corner with the background colour.
  void ClearArea(int width, int height);
  void Clear() { ClearArea(canvas_.GetWidth(), canvas_.GetHeight()); }
  const wxBitmap& Canvas() const { return canvas_; }
  int PicturesShown() const { return picturesShown_; }

 private:
  void OnPaint(wxPaintEvent& event);
  wxBitmap canvas_;
  int picturesShown_ = 0;
};

class CSelImgFiles : public wxDialog {
 public:
  enum : int {
    IDD = 146,
    IDC_ADD_FILES = 1024,
    IDC_DELETE = 1017,
    IDC_MOVE_UP = 1021,
    IDC_MOVE_DOWN = 1022,
    IDC_ADDRESS = 1026,
    IDC_DISPLAY_SPEED = 1028,
    IDC_OUTPUT_NAME = 1035,
    IDC_IMAGE_LIST = 1036,
    IDC_PROGRESS = 1037,
    IDC_TEMP_CLEAN = 1039,
    IDC_PREVIEW = 1043,
    IDC_SERIAL = 1053,
    IDC_NAND = 1038,
    IDC_USB = 1056,
    IDC_UART = 1055,
  };
  enum Column { kName, kSize, kDir };

  explicit CSelImgFiles(wxWindow* parent = nullptr);
  ~CSelImgFiles() override;

  bool UpdateData(bool saveAndValidate = true);

  void OnAddFiles();
  void OnOK();
  void OnCancel();
  // A run is in progress (from OK until the worker has ended).
  bool Running() const { return run_.Running(); }
  // The run started by OK and its stop.
  edog::ToolRun run_;

  // Members, as the dialog exchanges them.
  wxListCtrl* imageList_ = nullptr;
  wxGauge* progress_ = nullptr;
  std::string addressText_ = "0";
  wxButton* okButton_ = nullptr;
  CImagePreview* preview_ = nullptr;
  bool tempClean_ = true;
  std::string displaySpeed_ = "100";
  wxRadioButton* serialRadio_ = nullptr;
  wxRadioButton* nandRadio_ = nullptr;
  wxRadioButton* usbRadio_ = nullptr;
  wxRadioButton* uartRadio_ = nullptr;
  std::string outputName_ = "Image.hdr";

 private:
  class RunObserver;

  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  bool initialised_ = false;
  void OnPair(wxRadioButton* checked, wxRadioButton* partner);
  void LockEdits(bool locked);
  void OnRunEnded(const std::vector<std::string>& messages, bool finished,
                  const edog::ImageTableSettings& settings);

  wxButton* editButtons_[4] = {};  // AddFiles, Delete, MoveUp, MoveDown
  wxTextCtrl* addressEdit_ = nullptr;
  wxTextCtrl* speedEdit_ = nullptr;
  wxTextCtrl* outputEdit_ = nullptr;
  wxCheckBox* tempCleanBox_ = nullptr;
  // A relative output name lands where the last pictures were chosen from.
  std::string pictureFolder_;

  // The worker reaches the window through this; detached when the window goes.
  std::shared_ptr<UiCallTarget> ui_;
};
