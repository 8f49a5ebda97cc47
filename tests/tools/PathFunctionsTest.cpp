#include <gtest/gtest.h>

#include "tools/PathFunctions.h"

namespace edog {
namespace {

TEST(PathFunctions, WindowsAndPosixFolders) {
  EXPECT_EQ(ExtractFileName("C:\\voice\\Hello.Wav"), "Hello.Wav");
  EXPECT_EQ(ExtractFileTitle("C:\\voice\\Hello.Wav", true), "HELLO");
  EXPECT_EQ(ExtractFileTitle("C:\\voice\\Hello.Wav", false), "Hello");
  EXPECT_EQ(ReplaceExtension("C:\\voice\\Hello.Wav", "enc"), "C:\\voice\\Hello.enc");
  EXPECT_EQ(ExtractFileName("/home/u/a.b/c.d.wav"), "c.d.wav");
  EXPECT_EQ(ReplaceExtension("/home/u/a.b/c", "enc"), "/home/u/a.b/c.enc");
  EXPECT_EQ(ExtractFileName("C:\\voice\\"), "");
  EXPECT_EQ(ExtractFileName(""), "");
  EXPECT_EQ(ExtractFileTitle("", true), "");
  EXPECT_EQ(ExtractFileName("noext"), "noext");
  EXPECT_EQ(ExtractFileName("dir/.hidden"), "");
}

TEST(PathFunctions, UpperCaseKeepsMultibyteCharactersWhole) {
  EXPECT_EQ(ExtractFileTitle("/v/提示ab音.wav", true), "提示AB音");
}

}  // namespace
}  // namespace edog
