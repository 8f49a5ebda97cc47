// Plays the person at edog.exe's main window, for scripts/test-windows.sh: waits for the
// window and for its status line to read 成功, ticks 语音, 数据 and 软件 and presses 更新
// with the controls' own click message (BM_CLICK: the button's mouse press and release, so
// its BN_CLICKED reaches the window's handler the way a mouse click does), then answers
// every box the job shows with its OK button (the transfer's progress windows, which show
// none, are left alone). Prints, as UTF-8 lines:
//   status: <the status line>      once it reads 成功
//   client: <width> <height>       the main window's client area, then for each shown control
//   control: <id> <class> <x> <y> <width> <height>   its place in the client area
//   ready                          before the press (the caller may take its screenshot)
//   box: <the box's text>          each box, lines joined by " | "
//   done                           the job ended: 更新 is usable again and no box is open
// Exit status 0 after "done"; 1 with "driver: <why>" on standard error when a bounded wait
// ends first (no window, no 成功, the press started no job, the job did not end).
//
//   edog-window-driver.exe [--go FILE] [--wait SECONDS] [--start SECONDS]
// --go FILE: press only once FILE exists. --wait: the bound of each wait for the window (300).
// --start: how long the press may take to show its job (the button disabled or a box; 60).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The main window's control ids (app/MainWindowLogic.h) and wx's OK button.
constexpr int kUpdate = 1010, kUsbStatus = 1045, kSoftware = 1067, kVoice = 1068, kDatabase = 1069;
constexpr int kWxOk = 5100;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring Text(HWND h) {
  wchar_t buf[4096] = {};
  GetWindowTextW(h, buf, 4096);
  return buf;
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "driver: %s\n", why.c_str());
  std::exit(1);
}

struct Found {
  DWORD pid = 0;
  HWND main = nullptr;
  std::vector<HWND> others;  // the visible top-level windows of the same program
};

BOOL CALLBACK FindMain(HWND h, LPARAM p) {
  auto* f = reinterpret_cast<Found*>(p);
  if (IsWindowVisible(h) && GetDlgItem(h, kUpdate) && GetDlgItem(h, kUsbStatus)) {
    f->main = h;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindOthers(HWND h, LPARAM p) {
  auto* f = reinterpret_cast<Found*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (h != f->main && pid == f->pid && IsWindowVisible(h)) f->others.push_back(h);
  return TRUE;
}

struct Layout {
  HWND main;
  std::vector<std::string> lines;
};

BOOL CALLBACK CollectLayout(HWND h, LPARAM p) {
  auto* l = reinterpret_cast<Layout*>(p);
  if (GetParent(h) != l->main || !IsWindowVisible(h)) return TRUE;
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, l->main, reinterpret_cast<POINT*>(&r), 2);
  l->lines.push_back("control: " + std::to_string(GetDlgCtrlID(h)) + " " + Utf8(ClassOf(h)) + " " +
                     std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                     std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
  return TRUE;
}

struct BoxParts {
  std::string text;
  HWND ok = nullptr;
};

BOOL CALLBACK CollectBox(HWND h, LPARAM p) {
  auto* b = reinterpret_cast<BoxParts*>(p);
  const std::wstring cls = ClassOf(h);
  if (_wcsicmp(cls.c_str(), L"Static") == 0 && IsWindowVisible(h)) {
    const std::string t = Utf8(Text(h));
    if (!t.empty()) b->text += (b->text.empty() ? "" : " | ") + t;
  } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(h) &&
             (GetDlgCtrlID(h) == kWxOk || GetDlgCtrlID(h) == IDOK)) {
    b->ok = h;
  }
  return TRUE;
}

std::vector<HWND> Boxes(Found& f) {
  f.others.clear();
  EnumWindows(FindOthers, reinterpret_cast<LPARAM>(&f));
  return f.others;
}

}  // namespace

int main(int argc, char** argv) {
  std::string go;
  int waitS = 300, startS = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--go")) go = argv[i + 1];
    else if (!std::strcmp(argv[i], "--wait")) waitS = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--start")) startS = std::atoi(argv[i + 1]);
    else Fail(std::string("unknown argument ") + argv[i]);
  }
  auto until = [](int seconds, auto done) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
      if (done()) return true;
      Sleep(100);
    }
    return false;
  };

  Found f;
  if (!until(waitS, [&] { EnumWindows(FindMain, reinterpret_cast<LPARAM>(&f)); return f.main != nullptr; }))
    Fail("no main window (a visible window with 更新 and the status line) within " + std::to_string(waitS) + " s");
  GetWindowThreadProcessId(f.main, &f.pid);
  HWND status = GetDlgItem(f.main, kUsbStatus);
  if (!until(waitS, [&] { return Text(status).find(L"成功") != std::wstring::npos; }))
    Fail("the status line still reads \"" + Utf8(Text(status)) + "\" after " + std::to_string(waitS) + " s");
  Say("status: " + Utf8(Text(status)));
  RECT client;
  GetClientRect(f.main, &client);
  Say("client: " + std::to_string(client.right) + " " + std::to_string(client.bottom));
  Layout layout{f.main, {}};
  EnumChildWindows(f.main, CollectLayout, reinterpret_cast<LPARAM>(&layout));
  for (const std::string& line : layout.lines) Say(line);
  Say("ready");
  if (!go.empty() && !until(waitS, [&] { return GetFileAttributesA(go.c_str()) != INVALID_FILE_ATTRIBUTES; }))
    Fail("no " + go + " within " + std::to_string(waitS) + " s");

  for (int id : {kVoice, kDatabase, kSoftware}) {
    HWND box = GetDlgItem(f.main, id);
    if (!box) Fail("no tick box " + std::to_string(id));
    if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED) SendMessageW(box, BM_CLICK, 0, 0);
    if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED) Fail("\"" + Utf8(Text(box)) + "\" did not tick");
  }
  HWND update = GetDlgItem(f.main, kUpdate);
  // Posted: the press runs the job inside the window's own loop, which this program answers.
  PostMessageW(update, BM_CLICK, 0, 0);

  bool started = false;
  int answered = 0;
  ULONGLONG quietSince = 0;
  const ULONGLONG startBy = GetTickCount64() + static_cast<ULONGLONG>(startS) * 1000;
  const ULONGLONG endBy = GetTickCount64() + static_cast<ULONGLONG>(waitS) * 1000;
  while (GetTickCount64() < endBy) {
    if (!IsWindow(f.main)) Fail("the main window closed during the job");
    // The program's other windows: boxes, answered with their OK button, and the transfer's
    // progress windows (no OK button shown: they are left alone).
    const std::vector<HWND> windows = Boxes(f);
    HWND shown = nullptr;
    BoxParts parts;
    for (HWND w : windows) {
      BoxParts p;
      EnumChildWindows(w, CollectBox, reinterpret_cast<LPARAM>(&p));
      if (p.ok) {
        shown = w;
        parts = p;
        break;
      }
    }
    if (!windows.empty()) started = true;
    if (shown) {
      quietSince = 0;
      Say("box: " + parts.text);
      ++answered;
      PostMessageW(parts.ok, BM_CLICK, 0, 0);
      if (!until(30, [&] { return !IsWindow(shown) || !IsWindowVisible(shown); }))
        Fail("the box \"" + parts.text + "\" did not close on its OK button");
      continue;
    }
    const bool busy = !IsWindowEnabled(update) || !windows.empty();
    if (busy) started = true;
    if (!started && GetTickCount64() > startBy)
      Fail("the press of 更新 started no job within " + std::to_string(startS) +
           " s (the button stayed usable and no box was shown)");
    if (started && !busy) {
      // Quiet for 3 s with the button usable: the job is over.
      if (!quietSince) quietSince = GetTickCount64();
      if (GetTickCount64() - quietSince >= 3000) {
        if (answered == 0) Fail("the job ended without a box");
        Say("done");
        return 0;
      }
    } else {
      quietSince = 0;
    }
    Sleep(100);
  }
  Fail("the job did not end within " + std::to_string(waitS) + " s");
}
