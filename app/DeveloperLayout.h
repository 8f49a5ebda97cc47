#pragma once
// The main window's arrangement with the developer switch on, free of any window code.
// The template lays its hidden controls over one another and over the background picture
// (the shipped layout never shows them); here the picture keeps its corner and every
// control gets a place of its own beside or below it, in the template's order.
#include <vector>

#include "widgets/LayoutFit.h"

namespace edog {

// One control of template 102: by its id, or, for the statics and group boxes without
// one, by its text. Boxes are in dialog units.
struct DeveloperPlace {
  int id = 0;                   // 0: found by `text`
  const char* text = nullptr;
  LayoutBox box;
  bool group = false;           // a group box: holds the controls inside it
};

struct DeveloperArrangement {
  std::vector<DeveloperPlace> places;
  LayoutSize client;            // holds the picture and every place, with a margin
};

// The arrangement for a background picture of `picture` dialog units at the client
// area's origin: the shipped part and the update log, progress bar and status monitor
// below the picture, the serial link, the tools and the encryption methods beside it.
DeveloperArrangement ArrangeDeveloperLayout(LayoutSize picture);

}  // namespace edog
