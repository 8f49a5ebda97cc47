#include "app/DeveloperLayout.h"

#include <algorithm>

#include "app/MainWindowLogic.h"

namespace edog {

namespace {

constexpr int kGap = 8;          // between the picture and the columns
constexpr int kMargin = 6;       // to the client area's edges
constexpr int kLeftWidth = 323;  // the shipped part, 更新 included
constexpr int kRightWidth = 290;

// Places relative to a column's origin; heights are GTK's natural ones in dialog units
// (buttons and combo boxes 21, check boxes and radios 12, labels 10), so nothing needs
// to be pushed along afterwards.
DeveloperPlace At(int id, int x, int y, int w, int h) { return {id, nullptr, {x, y, w, h}, false}; }
DeveloperPlace Label(const char* text, int x, int y, int w) {
  return {0, text, {x, y, w, 10}, false};
}
DeveloperPlace Group(const char* text, int x, int y, int w, int h) {
  return {0, text, {x, y, w, h}, true};
}

// Below the picture: what the shipped window shows, as it stands there, then the update
// log with 退出 beside it, the serial download's bar and the status monitor.
std::vector<DeveloperPlace> LeftColumn() {
  return {
      Group("更新选择", 0, 0, 258, 25),
      At(IDC_VOICE, 63, 9, 32, 12),
      At(IDC_DATABASE, 124, 9, 32, 12),
      At(IDC_SOFTWARE, 191, 9, 32, 12),
      At(IDC_UPDATE, 267, 8, 56, 34),
      At(IDC_USB_STATUS, 8, 33, 221, 16),
      Group("更新说明", 0, 54, 258, 94),
      At(IDC_UPDATE_LOG, 4, 64, 248, 78),
      At(IDC_EXIT, 267, 64, 56, 38),
      At(IDC_PROGRESS, 3, 154, 320, 15),
      Label("Status Monitor Window:", 0, 175, 100),
      At(IDC_STATUS_MONITOR, 0, 186, 323, 52),
  };
}

// Beside the picture: the tool buttons of the template's top row, the encryption
// methods in two rows of four, the three steps, the software path and the console.
std::vector<DeveloperPlace> RightColumn() {
  std::vector<DeveloperPlace> places = {
      At(IDC_BUTTON4, 0, 4, 57, 21),
      At(IDC_SELECT_IMAGES, 61, 4, 123, 21),
      At(IDC_READ_USB, 188, 4, 57, 21),
      Group("选择加密方式", 0, 30, kRightWidth, 50),
  };
  for (int i = 0; i < kMethodCount; ++i) {
    places.push_back(At(IDC_METHOD_FIRST + i, 8 + 70 * (i % 4), 42 + 16 * (i / 4), 39, 12));
  }
  const DeveloperPlace rest[] = {
      Group("STEP. 1", 0, 86, kRightWidth, 66),
      Label("COM Port :", 8, 103, 48),
      At(IDC_COM_PORT, 60, 99, 80, 21),
      Label("BaudRate :", 8, 128, 48),
      At(IDC_BAUD_RATE, 60, 124, 80, 21),
      At(IDC_CONNECT, 148, 99, 79, 21),
      At(IDB_DEVICE, 240, 92, 32, 53),
      Group("STEP. 2", 0, 156, kRightWidth, 36),
      At(IDC_KOVA_DATA, 8, 168, 132, 21),
      At(IDC_HEADER_GENERATION, 148, 168, 132, 21),
      Group("STEP. 3", 0, 196, kRightWidth, 70),
      At(IDC_PROGRESS_LIST, 8, 208, 178, 52),
      At(IDC_RESET, 194, 208, 57, 21),
      At(IDC_BROWSE, 194, 234, 57, 22),
      Label("File  :", 0, 273, 30),
      At(IDC_SOFTWARE_PATH, 34, 271, kRightWidth - 34, 13),
      Label("Console Output : ", 0, 290, 80),
      At(IDC_CONSOLE_OUTPUT, 0, 301, kRightWidth, 57),
  };
  places.insert(places.end(), std::begin(rest), std::end(rest));
  return places;
}

}  // namespace

DeveloperArrangement ArrangeDeveloperLayout(LayoutSize picture) {
  DeveloperArrangement arrangement;
  LayoutSize& client = arrangement.client;
  client = {picture.w + kMargin, picture.h + kMargin};
  auto add = [&](std::vector<DeveloperPlace> column, int x0, int y0) {
    for (DeveloperPlace& place : column) {
      place.box.x += x0;
      place.box.y += y0;
      client.w = std::max(client.w, place.box.Right() + kMargin);
      client.h = std::max(client.h, place.box.Bottom() + kMargin);
      arrangement.places.push_back(place);
    }
  };
  add(LeftColumn(), 0, picture.h + kGap);
  add(RightColumn(), std::max(picture.w, kLeftWidth) + kGap, 0);
  return arrangement;
}

}  // namespace edog
