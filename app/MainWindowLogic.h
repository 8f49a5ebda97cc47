#pragma once
// Decisions of the main window that are not window work: the presence poll's outcome,
// the window's placement, the status monitor's size rule and the font choice. No window headers here, so tests need no display.
#include <functional>
#include <string>
#include <vector>

namespace edog {

// Control and command identifiers of dialog template 102 and its neighbours.
enum MainWindowId : int {
  IDD_ABOUTBOX = 100,
  IDS_ABOUTBOX = 101,
  IDD_RS232TEST_DIALOG = 102,
  IDR_MAINFRAME = 128,
  IDD_SETCOM = 130,
  IDB_DEVICE = 153,
  IDB_BACKGROUND = 1024,
  IDM_ABOUTBOX = 0x0010,
  // Our own items beside About (system-menu ids: multiples of 16 below 0xF000).
  IDM_DOCTOR = 0x0020,
  IDM_USB_SETUP = 0x0030,

  IDC_PROGRESS_LIST = 1003,
  IDC_RESET = 1006,
  IDC_COM_PORT_EDIT = 1007,
  IDC_SPEED_EDIT = 1008,
  IDC_BROWSE = 1009,
  IDC_UPDATE = 1010,
  IDC_SOFTWARE_PATH = 1011,
  IDC_EXIT = 1012,
  IDC_PROGRESS = 1014,
  IDC_KOVA_DATA = 1017,
  IDC_COM_PORT = 1019,
  IDC_BAUD_RATE = 1020,
  IDC_SELECT_IMAGES = 1021,
  IDC_CONNECT = 1025,
  IDC_CONSOLE_OUTPUT = 1026,
  IDC_HEADER_GENERATION = 1027,
  IDC_STATUS_MONITOR = 1035,
  IDC_USB_STATUS = 1045,
  IDC_READ_USB = 1060,
  IDC_BUTTON4 = 1063,
  IDC_SOFTWARE = 1067,
  IDC_VOICE = 1068,
  IDC_DATABASE = 1069,
  IDC_UPDATE_LOG = 1070,
  IDC_METHOD_FIRST = 1071,  // 加密A; 1071 + n is method n
  IDC_METHOD_LAST = 1078,   // 加密H
};

constexpr int kPollTimerId = 1;
constexpr int kFirstPollMs = 100;
constexpr int kPollAbsentMs = 800;
constexpr int kPollPresentMs = 1000;
constexpr int kMethodCount = 8;
constexpr int kInitialMethodRadio = 3;
constexpr long kStatusMonitorLimit = 0x4000;  // 16384 characters
constexpr int kSerialTextBufferSize = 1024;
constexpr int kExtraWindowHeight = 120;       // below the background picture

// Texts of the main window.
inline const char* UsbStatusBeforePoll() { return "USB: x"; }
inline const char* UsbStatusPresent() { return "USB连接状态: 成功"; }
inline const char* UsbStatusAbsent() { return "USB连接状态: 失败"; }
inline const char* InitialUpdateLog() { return "V1.0\r\n"; }

// What one presence probe leads to.
struct PresenceOutcome {
  const char* statusText;
  bool connected;
  bool readUsbEnabled;
  int nextPeriodMs;
};
PresenceOutcome DecidePresence(bool deviceAnswered, bool readingDeviceText);

// Whole-window rectangle: W wide, H + 120 high, centred with integer halving.
struct WindowRect {
  int left, top, width, height;
};
// A window of width x height centred on the screen: left = screen width / 2 - width / 2,
// top = screen height / 2 - height / 2, each halving dropping the remainder.
WindowRect CentredRect(int screenWidth, int screenHeight, int width, int height);
WindowRect MainWindowRect(int screenWidth, int screenHeight, int bitmapWidth, int bitmapHeight);

// A status monitor holding more than 16384 characters is cleared before new text.
inline bool StatusMonitorOverflows(long characters) { return characters > kStatusMonitorLimit; }

// The serial text message copies at most 1023 received bytes into a cleared 1024-byte
// buffer and shows them up to the first zero byte.
std::string SerialBufferText(const char* bytes, size_t count);

// Faces tried for the main window, in order: the Song faces first, then other CJK faces.
const std::vector<std::string>& MainFontCandidates();
// The first candidate the system has, or an empty string when none is present.
std::string ChooseFace(const std::vector<std::string>& candidates,
                       const std::function<bool(const std::string&)>& isAvailable);

}  // namespace edog
