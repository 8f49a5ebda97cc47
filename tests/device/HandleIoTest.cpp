// The handle layer in place of WriteFile/ReadFile/CloseHandle, on plain descriptors.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device/HandleIo.h"

namespace edog {
namespace {

struct SocketPair {
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fd), 0); }
  ~SocketPair() {
    for (int f : fd) {
      if (f >= 0) close(f);
    }
  }
  UsbHandle Handle(int i) const { return static_cast<UsbHandle>(fd[i]); }
  int fd[2] = {-1, -1};
};

TEST(HandleIo, BlocksGoWholeAndComeBackOneAtATime) {
  SocketPair s;
  uint32_t n = 99;
  const uint8_t a[5] = {1, 2, 3, 4, 5}, b[2] = {6, 7};
  EXPECT_TRUE(HandleWrite(s.Handle(0), a, 5, &n));
  EXPECT_EQ(n, 5u);
  EXPECT_TRUE(HandleWrite(s.Handle(0), b, 2, &n));
  EXPECT_TRUE(HandleWrite(s.Handle(0), b, 0, &n));  // an empty block is a block
  uint8_t buf[64];
  ASSERT_TRUE(HandleRead(s.Handle(1), buf, sizeof(buf), &n));
  EXPECT_EQ(n, 5u);
  ASSERT_TRUE(HandleRead(s.Handle(1), buf, sizeof(buf), &n));
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(buf[1], 7);
}

TEST(HandleIo, AGonePeerFailsWritesAndReadsWithoutASignal) {
  SocketPair s;
  close(s.fd[1]);
  s.fd[1] = -1;
  const uint8_t a[3] = {1, 2, 3};
  uint32_t n = 99;
  bool gone = false;
  EXPECT_FALSE(HandleWrite(s.Handle(0), a, 3, &n, &gone));  // EPIPE, and the process lives on
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(gone) << "a broken pipe is a gone device: no retry can help";
  uint8_t buf[8];
  EXPECT_FALSE(HandleRead(s.Handle(0), buf, sizeof(buf), &n));  // end of pipe is no empty block
}

TEST(HandleIo, PlainPipesAndInvalidHandles) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const uint8_t a[4] = {9, 8, 7, 6};
  uint32_t n = 0;
  EXPECT_TRUE(HandleWrite(static_cast<UsbHandle>(p[1]), a, 4, &n));
  uint8_t buf[8];
  EXPECT_TRUE(HandleRead(static_cast<UsbHandle>(p[0]), buf, sizeof(buf), &n));
  EXPECT_EQ(n, 4u);
  EXPECT_TRUE(HandleClose(static_cast<UsbHandle>(p[0])));
  EXPECT_TRUE(HandleClose(static_cast<UsbHandle>(p[1])));
  EXPECT_FALSE(HandleWrite(USB_INVALID_HANDLE, a, 4, &n));
  EXPECT_FALSE(HandleRead(USB_INVALID_HANDLE, buf, 4, &n));
  EXPECT_FALSE(HandleClose(USB_INVALID_HANDLE));
}

}  // namespace
}  // namespace edog
