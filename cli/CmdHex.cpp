// edogtool hex2hdr: the HEX/BIN header generator without its dialog. Prints the report
// lines as the dialog's report pane shows them for the same choices.
#include <cstdio>
#include <memory>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/Terminal.h"
#include "tools/HeaderGen.h"

namespace edog::cli {
namespace {

// Report texts end in "\r\n" (the pane's line end); a terminal wants "\n".
void PrintReport(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
}

class PrintingObserver : public HeaderGenObserver {
 public:
  void OnReport(const std::string& text) override {
    if (bar_) bar_->Finish();
    PrintReport(text);
  }
  void OnProgress(uint64_t done, uint64_t total) override {
    if (!ProgressDisplay::IsTerminal() || total < (8u << 20)) return;
    if (!bar_) bar_ = std::make_unique<ProgressDisplay>("copying");
    bar_->Update(static_cast<unsigned>(done * 100 / total));
  }

 private:
  std::unique_ptr<ProgressDisplay> bar_;
};

int Hex2Hdr(int argc, char** argv) {
  bool c = false, i = false, n = false, s = false, m = false;
  std::string address, port = "usb", flash;
  std::vector<std::string> input;
  Args args("edogtool hex2hdr [-C|-I|-N|-S|-M] [--address 0xADDR] [--port usb|uart] "
            "[--flash serial|nand] INPUT",
            "Turns an Intel HEX file or a raw binary into a headered image beside it: INPUT\n"
            "with its last three characters replaced by \"hdr\" (HEX inputs also leave the flat\n"
            "image, \"bin\"). Prints the report lines of the header generator: the chosen\n"
            "option's line, the selected file and the conversion. Exit status 0 only when the\n"
            "conversion ends with \"All Process is Done\".");
  args.Flag("-C", &c, "Intel HEX, payload from the offset on, e-flash (default; address 0x1000)");
  args.Flag("-I", &i, "Intel HEX, whole flat image, e-flash, address 0x0");
  args.Flag("-N", &n, "raw binary, whole file, e-flash (address 0x0)");
  args.Flag("-S", &s, "raw binary, whole file, Serial or NAND flash (address 0x0)");
  args.Flag("-M", &m, "raw binary, payload from the offset on, e-flash (address 0x1000)");
  args.Option("--address", &address, "0xADDR",
              "offset or download address, \"0x\" and hex digits (not with -I)");
  args.Option("--port", &port, "usb|uart", "port written into the header (default usb)");
  args.Option("--flash", &flash, "serial|nand", "flash memory for -S (default serial)");
  args.Positionals(&input, "INPUT", 1, 1, "the Intel HEX file or raw binary");
  args.Epilog("-C, -I and -M need an address that is a multiple of 512 and a payload that ends\n"
              "at or below 0x10000 (address plus the input's bytes from the offset on, before\n"
              "the padding to whole packets). -N and -S take any address and any size the\n"
              "header's 32-bit size field holds. The address goes into the header as given:\n"
              "for NAND flash give it in 512-byte blocks.");
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);

  if (int(c) + int(i) + int(n) + int(s) + int(m) > 1)
    return args.UsageError("choose one of -C, -I, -N, -S, -M");
  const ConvertOption option = i   ? ConvertOption::kI
                               : n ? ConvertOption::kN
                               : s ? ConvertOption::kS
                               : m ? ConvertOption::kM
                                   : ConvertOption::kC;
  HeaderGenSettings settings;
  settings.inputPath = input[0];
  settings.option = option;
  settings.addressText = LayoutOf(option).addressText;
  if (args.Given("--address")) {
    if (!LayoutOf(option).addressEditable)
      return args.UsageError("-I always downloads to address 0x0; --address does not apply");
    // Without "0x" the generator answers as its dialog does; with it, the digits must be
    // a number of 32 bits, not wrap or stop at junk.
    uint32_t value = 0;
    if ((address.empty() || address.compare(0, 2, "0x") == 0) && !ParseHex(address, value))
      return args.UsageError("--address takes \"0x\" and a hexadecimal number of at most 32 bits");
    settings.addressText = address;
  }
  if (port == "usb" || port == "USB") {
    settings.port = Port::Usb;
  } else if (port == "uart" || port == "UART") {
    settings.port = Port::Uart;
  } else {
    return args.UsageError("--port must be usb or uart");
  }
  if (!flash.empty()) {
    if (!LayoutOf(option).flashSelectable)
      return args.UsageError("--flash applies to -S only");
    if (flash == "nand" || flash == "NAND") {
      settings.nand = true;
    } else if (flash != "serial" && flash != "Serial") {
      return args.UsageError("--flash must be serial or nand");
    }
  }

  PrintReport(OptionReportLine(option));
  PrintReport(FileSelectedReportLine(settings.inputPath));
  PrintingObserver observer;
  // A stop request lets the output appear whole or not at all (no stray temporary file).
  InstallInterruptHandler();
  const bool done = ConvertToHeaderedImage(settings, observer) == HeaderGenStatus::kDone;
  if (Interrupted()) return InterruptExitCode();
  return done ? kExitOk : kExitFailed;
}

}  // namespace

EDOG_COMMAND("hex2hdr", "make a headered image from an Intel HEX file or a binary", Hex2Hdr);

}  // namespace edog::cli
