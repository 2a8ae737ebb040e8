#include "CUxError.h"

#include <gtest/gtest.h>

namespace {

CUxError MakeDiskError() {
  return UX_ERROR(28, "disk [%s] full at %d%%", "sda", 99);
}

TEST(CUxErrorTest, DefaultIsSuccessAndSuccessResets) {
  CUxError error;
  EXPECT_FALSE(error.IsError());
  EXPECT_EQ(0u, error.LocationCount());
  EXPECT_EQ("code [0 = 0x0]", error.AsString());

  error = MakeDiskError();
  EXPECT_TRUE(error.IsError());
  EXPECT_FALSE(error.Success().IsError());
  EXPECT_EQ(0u, error.GetErrorCode());
  EXPECT_EQ("", error.GetMessage());
}

TEST(CUxErrorTest, AsStringNamesCodeMessageAndEveryLocation) {
  CUxError error = MakeDiskError();
  int pushLine = __LINE__ + 1;
  error.Push(UX_CODE_LOCATION);
  std::string text = error.AsString();
  EXPECT_EQ(std::string::npos, text.find('\n'));
  EXPECT_EQ(0u, text.find("code [28 = 0x1c] msg [disk [sda] full at 99%] at "));
  EXPECT_NE(std::string::npos, text.find("MakeDiskError() (CUxError_test.cpp:"));
  EXPECT_NE(std::string::npos, text.find(" <- "));
  EXPECT_NE(std::string::npos, text.find("(CUxError_test.cpp:" + std::to_string(pushLine) + ")"));
  EXPECT_EQ(std::string::npos, text.find('/')) << "file names are shown without directories";
  EXPECT_EQ(2u, error.LocationCount());
}

TEST(CUxErrorTest, ErrorWithoutMessageShowsNoMessage) {
  CUxError error = UX_ERROR(30);
  EXPECT_EQ(30u, error.GetErrorCode());
  EXPECT_EQ(std::string::npos, error.AsString().find("msg"));
}

TEST(CUxErrorTest, PushOnOneCopyNeverShowsInAnother) {
  CUxError original = MakeDiskError();
  CUxError copy = original;
  CUxError assigned;
  assigned = original;

  copy.Push(UX_CODE_LOCATION).Push(UX_CODE_LOCATION);
  original.Push(UX_CODE_LOCATION);

  EXPECT_EQ(3u, copy.LocationCount());
  EXPECT_EQ(2u, original.LocationCount());
  EXPECT_EQ(1u, assigned.LocationCount());
  EXPECT_EQ(original.GetMessage(), assigned.GetMessage());
}

}  // namespace
