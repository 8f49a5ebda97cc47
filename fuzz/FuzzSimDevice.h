#pragma once
// The simulator's flash model and journal in the scratch folder, for the targets that
// feed the simulator's parsers. Each input starts with an empty journal.
#include <string>

#include "common/Files.h"
#include "fuzz/FuzzSupport.h"
#include "sim/FlashModel.h"
#include "sim/Journal.h"

namespace edog::fuzz {

struct SimDevice {
  SimDevice() : flash(ScratchDir()), journal(JoinPath(ScratchDir(), "journal.jsonl")) {
    std::string error;
    FUZZ_CHECK(flash.Open(&error));
  }
  // The device for this input, its journal emptied.
  static SimDevice& ForInput() {
    static SimDevice device;
    RemoveFile(device.journal.Path());
    return device;
  }
  sim::FlashModel flash;
  sim::Journal journal;
};

}  // namespace edog::fuzz
