#pragma once
// The voice data generator window, dialog template 132 ("KOVA Data Generation"): the wave
// list with rates and compression bits, the target settings, and OK, which saves
// everything into the generation lists and settings and starts the generation run on a
// worker thread. The run's reports are queued to the window; after its success the window
// shows the completion box and closes.
#include <wx/dialog.h>

#include <memory>
#include <string>

#include "tools/ToolRun.h"
#include "tools/VoiceGeneration.h"
#include "tools/WaveInfo.h"

// <windows.h>, which some wx headers pull in on Windows, defines SetPort as SetPortW.
#ifdef SetPort
#undef SetPort
#endif

class wxButton;
class wxCheckBox;
class wxListCtrl;
class wxMouseEvent;
class wxRadioButton;
class wxTextCtrl;
class CGradientProgressCtrl;
class UiCallTarget;

class CSelWavFiles : public wxDialog {
 public:
  enum : int {
    IDD = 132,
    IDC_PROGRESS = 1014,
    IDC_DELETE = 1017,
    IDC_WAVE_LIST = 1020,
    IDC_MOVE_UP = 1021,
    IDC_MOVE_DOWN = 1022,
    IDC_ADD_FILES = 1024,
    IDC_ADDRESS = 1026,
    IDC_OUTPUT_NAME = 1035,
    IDC_NAND = 1038,
    IDC_TEMP_CLEAN = 1039,
    IDC_RATE_BITS = 1040,
    IDC_BITS_CHANGE = 1052,
    IDC_SERIAL = 1053,
    IDC_UART = 1055,
    IDC_USB = 1056,
  };
  enum Column { kName, kFreq, kBits, kSize, kDir };

  // `generation`: the generation lists and settings, kept by the caller from one opening
  // to the next. `encoderLibrary`: base name or path of the voice encoder library.
  CSelWavFiles(wxWindow* parent, edog::VoiceGeneration& generation,
               std::string encoderLibrary = edog::kVoiceEncoderLibrary);
  ~CSelWavFiles() override;

  bool UpdateData(bool saveAndValidate = true);

  void OnAddFiles();
  void OnBitsChange();
  void OnRateBitsOption();
  // A double click on the wave list at the given row (-1: none) and column.
  void OnListDoubleClick(long item, long column);
  void OnOK();
  void OnCancel();
  // The run's reports, on the window's thread (the generator message WM_USER+1).
  void OnRunBusy(bool busy);
  void OnRunProgress(long percent);
  void OnRunCompleted(long files);
  bool Running() const { return run_.Running(); }
  // The run started by OK and its stop.
  edog::ToolRun run_;

  // Members, as the dialog exchanges them.
  wxListCtrl* waveList_ = nullptr;
  wxButton* deleteButton_ = nullptr;
  wxButton* moveUpButton_ = nullptr;
  wxButton* moveDownButton_ = nullptr;
  std::string addressText_ = "0";
  CGradientProgressCtrl* progress_ = nullptr;
  int tempFileClean_ = 1;
  int rateAndBits_ = 0;
  wxButton* bitsChangeButton_ = nullptr;
  std::string outputName_ = edog::kDefaultVoiceOutputName;
  wxRadioButton* serialRadio_ = nullptr;
  wxRadioButton* nandRadio_ = nullptr;
  wxRadioButton* uartRadio_ = nullptr;
  wxRadioButton* usbRadio_ = nullptr;
  wxButton* okButton_ = nullptr;

 private:
  class RunObserver;

  void CreateControls();
  void OnInitDialog(wxInitDialogEvent& event);
  bool initialised_ = false;
  void OnListMouseDoubleClick(wxMouseEvent& event, wxWindow* source);
  void AddFile(edog::CWaveInfo& working, const std::string& path);
  void SetFlash(int selection);
  void SetPort(int selection);
  void OnRunEnded(const edog::Result<edog::VoiceRunStatus>& result);
  void LockEdits(bool locked);

  edog::VoiceGeneration& generation_;
  const std::string encoderLibrary_;
  wxTextCtrl* addressEdit_ = nullptr;
  wxTextCtrl* outputEdit_ = nullptr;
  wxCheckBox* tempCleanBox_ = nullptr;
  wxCheckBox* rateBitsBox_ = nullptr;

  // The worker reaches the window through this; detached when the window goes.
  std::shared_ptr<UiCallTarget> ui_;
  bool ending_ = false;
  wxButton* addFilesButton_ = nullptr;
};
