// The title bars the window manager gives the main window and the message boxes: what
// they allow, and whether the caption fits. Meaningful only under a window manager.
#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/msgdlg.h>  // before the generic box, which builds on it
#include <wx/generic/msgdlgg.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <ostream>

#include "GuiTestSupport.h"
#include "WindowManagerHints.h"
#include "app/RS232TestDlg.h"
#include "device/DeviceSocket.h"
#include "support/TestSupport.h"
#include "widgets/MessageBox.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

using guitest::ManagedFrame;
using guitest::RunLoopUntil;

bool Allows(const ManagedFrame& frame, const char* action) {
  return std::find(frame.allowedActions.begin(), frame.allowedActions.end(), action) !=
         frame.allowedActions.end();
}

std::string Actions(const ManagedFrame& frame) {
  std::string all;
  for (const std::string& a : frame.allowedActions) all += a + " ";
  return all + "(" + std::to_string(frame.titleButtons) + " title bar buttons)";
}

bool Asks(long bits, long bit) { return bits != -1 && (bits & bit) != 0; }

ManagedFrame WaitForFrame(wxTopLevelWindow* window) {
  ManagedFrame frame;
  RunLoopUntil([&] {
    frame = guitest::ReadManagedFrame(window);
    return frame.found && frame.titleHeight > 0;
  });
  return frame;
}

class WindowFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!guitest::WindowManagerRunning()) GTEST_SKIP() << "no window manager on this display";
    setenv(kDeviceSocketEnv, (dir_ / "nobody.sock").c_str(), 1);
  }
  void TearDown() override { unsetenv(kDeviceSocketEnv); }

  test::TempDir dir_;
};

TEST_F(WindowFrames, MainWindowMinimisesAndClosesButDoesNotMaximiseOrResize) {
  std::unique_ptr<CRS232TestDlg, guitest::DestroyWindow> dlg(
      new CRS232TestDlg(nullptr, MainWindowOptions{}));
  dlg->Show();
  const ManagedFrame frame = WaitForFrame(dlg.get());
  ASSERT_TRUE(frame.found);
  SCOPED_TRACE(frame.windowType + ": " + Actions(frame));
  EXPECT_TRUE(Allows(frame, "_NET_WM_ACTION_MINIMIZE"));
  EXPECT_TRUE(Allows(frame, "_NET_WM_ACTION_CLOSE"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_MAXIMIZE_HORZ"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_MAXIMIZE_VERT"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_RESIZE"));
  EXPECT_EQ(frame.minSize, dlg->GetClientSize());
  EXPECT_EQ(frame.maxSize, dlg->GetClientSize());
  // What the window asks of any window manager: the template's minimise box, no maximise
  // box, no sizing border. (openbox draws a maximise button all the same.)
  EXPECT_TRUE(Asks(frame.motifFunctions, guitest::kMwmFuncMinimize));
  EXPECT_TRUE(Asks(frame.motifFunctions, guitest::kMwmFuncClose));
  EXPECT_FALSE(Asks(frame.motifFunctions, guitest::kMwmFuncMaximize));
  EXPECT_FALSE(Asks(frame.motifFunctions, guitest::kMwmFuncResize));
  EXPECT_TRUE(Asks(frame.motifDecorations, guitest::kMwmDecorMinimize));
  EXPECT_FALSE(Asks(frame.motifDecorations, guitest::kMwmDecorMaximize));
  EXPECT_FALSE(Asks(frame.motifDecorations, guitest::kMwmDecorResizeH));
  EXPECT_EQ(frame.transientFor, 0u) << "the main window has its own task bar button";
  // The fixed size is still the template's.
  EXPECT_EQ(dlg->GetClientSize(), wxSize(500, 353));
  guitest::SaveArtifact(guitest::Capture(dlg.get()), "main-window-frame.png");
}

struct BoxCase {
  const char* name;
  wxString caption;
  wxString text;
  bool owned;  // shown over the main window, or without an owner
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class MessageBoxFrames : public WindowFrames, public ::testing::WithParamInterface<BoxCase> {};

// The box is modal: it is examined, minimised and closed from a timer while it runs.
TEST_P(MessageBoxFrames, NeitherResizesNorMaximisesAndShowsTheWholeCaption) {
  const BoxCase& c = GetParam();
  std::unique_ptr<CRS232TestDlg, guitest::DestroyWindow> owner;
  ManagedFrame ownerFrame;
  if (c.owned) {
    owner.reset(new CRS232TestDlg(nullptr, MainWindowOptions{}));
    owner->Show();
    ownerFrame = WaitForFrame(owner.get());
    ASSERT_TRUE(ownerFrame.found);
  }
  const MessageBoxHandler real = SetMessageBoxHandler({});
  ManagedFrame frame;
  wxSize client, caption;
  bool seen = false, minimised = false, ownerMinimised = false;
  wxGenericMessageDialog* shown = nullptr;
  std::chrono::steady_clock::time_point minimisedAt;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!shown) {
      for (wxWindow* w : wxTopLevelWindows) {
        auto* box = dynamic_cast<wxGenericMessageDialog*>(w);
        if (!box || !box->IsShownOnScreen()) continue;
        frame = guitest::ReadManagedFrame(box);
        if (!frame.found || frame.titleHeight <= 0) return;
        shown = box;
        client = box->GetClientSize();
        wxClientDC dc(box);
        dc.SetFont(box->GetFont().Bold());
        caption = dc.GetTextExtent(box->GetTitle());
        guitest::SaveArtifact(guitest::Capture(box), std::string("message-box-") + c.name + ".png");
        if (!c.owned) break;
        // An owned box that is minimised must take its owner along: a box hidden alone
        // would leave a window that answers nothing.
        guitest::Minimise(frame.window);
        minimisedAt = std::chrono::steady_clock::now();
        return;
      }
      if (!shown) return;
    } else if (!guitest::Minimised(frame.window)) {
      if (std::chrono::steady_clock::now() - minimisedAt < std::chrono::seconds(3)) return;
    } else {
      minimised = true;
      ownerMinimised = guitest::Minimised(ownerFrame.window);
    }
    timer.Stop();
    seen = true;
    shown->EndModal(wxID_OK);
  });
  timer.Start(50);
  const int answer = ShowMessageBox(c.text, c.caption, wxOK, owner.get());
  timer.Stop();
  SetMessageBoxHandler(real);
  EXPECT_EQ(answer, wxOK);
  ASSERT_TRUE(seen) << "the box never came up under the window manager";
  SCOPED_TRACE(frame.windowType + ": " + Actions(frame));
  EXPECT_TRUE(Allows(frame, "_NET_WM_ACTION_CLOSE"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_MAXIMIZE_HORZ"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_MAXIMIZE_VERT"));
  EXPECT_FALSE(Allows(frame, "_NET_WM_ACTION_RESIZE"));
  EXPECT_EQ(frame.minSize, client);
  EXPECT_EQ(frame.maxSize, client);
  // What the box asks of any window manager: neither minimise nor maximise, no sizing.
  // (openbox ignores that for the buttons it draws and lets a dialog minimise.)
  EXPECT_TRUE(Asks(frame.motifFunctions, guitest::kMwmFuncClose));
  for (long bit : {guitest::kMwmFuncMinimize, guitest::kMwmFuncMaximize, guitest::kMwmFuncResize}) {
    EXPECT_FALSE(Asks(frame.motifFunctions, bit)) << "function bit " << bit;
  }
  for (long bit : {guitest::kMwmDecorMinimize, guitest::kMwmDecorMaximize, guitest::kMwmDecorResizeH}) {
    EXPECT_FALSE(Asks(frame.motifDecorations, bit)) << "decoration bit " << bit;
  }
  if (c.owned) {
    EXPECT_EQ(frame.transientFor, ownerFrame.window) << "the box belongs to its owner";
    EXPECT_TRUE(minimised) << "the window manager did not minimise the box";
    EXPECT_TRUE(ownerMinimised) << "the box was minimised without its owner";
  }
  // The whole caption is drawn (measured in the box's own font made bold, no smaller than
  // the title bar's).
  EXPECT_GE(frame.labelWidth, caption.x) << "box " << client.x << " px wide";
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxFrames,
    ::testing::Values(BoxCase{"narrow", ApplicationCaption(), "OK", false},
                      BoxCase{"narrow-owned", ApplicationCaption(), "OK", true},
                      BoxCase{"error", wxString("Error"), "x", true},
                      BoxCase{"long-caption", wxString::FromUTF8("GPS更新服务 GPS更新服务 GPS更新服务"),
                              "OK", false}),
    [](const ::testing::TestParamInfo<BoxCase>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace
}  // namespace edog
