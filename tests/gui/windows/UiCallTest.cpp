// Worker threads' calls into the window's thread: waited for while attached, dropped and
// never waited for once detached.
#include <gtest/gtest.h>
#include <wx/thread.h>

#include <atomic>
#include <thread>

#include "GuiTestSupport.h"
#include "widgets/UiCall.h"

namespace {

using edog::guitest::RunLoopUntil;

TEST(UiCall, SendRunsOnTheUiThreadAndTheWorkerWaitsForIt) {
  auto target = UiCallTarget::Create();
  std::atomic<bool> returned{false};
  bool ranOnUi = false;
  int value = 0;
  std::thread worker([&] {
    int onStack = 41;
    EXPECT_TRUE(target->Send([&] {
      ranOnUi = wxThread::IsMain();
      value = ++onStack;  // the worker's stack is still there
    }));
    returned = true;
  });
  ASSERT_TRUE(RunLoopUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnUi);
  EXPECT_EQ(value, 42);
  // On the UI thread itself the call runs at once.
  bool direct = false;
  EXPECT_TRUE(target->Send([&] { direct = true; }));
  EXPECT_TRUE(direct);
}

TEST(UiCall, DetachLetsAWaitingWorkerGoAndDropsItsCall) {
  auto target = UiCallTarget::Create();
  std::atomic<bool> queued{false}, returned{false}, sendResult{true};
  bool ran = false;
  std::thread worker([&] {
    queued = true;
    sendResult = target->Send([&] { ran = true; });
    returned = true;
  });
  while (!queued) std::this_thread::yield();
  // The UI thread detaches without running its loop, then joins the worker: no deadlock.
  target->Detach();
  worker.join();
  EXPECT_TRUE(returned);
  edog::guitest::Flush();  // the queued call comes round and is dropped
  EXPECT_FALSE(sendResult);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(target->Send([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

TEST(UiCall, PostedCallsRunInOrderUnlessDetachedFirst) {
  auto target = UiCallTarget::Create();
  std::vector<int> order;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) target->Post([&order, i] { order.push_back(i); });
  });
  worker.join();
  ASSERT_TRUE(RunLoopUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

  target->Post([&order] { order.push_back(9); });
  target->Detach();
  edog::guitest::Flush();
  EXPECT_EQ(order.size(), 3u);
}

}  // namespace
