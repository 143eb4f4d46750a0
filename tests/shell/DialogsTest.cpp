#include "Dialogs.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

TEST(QtDialogFilter, PatternsBlankSeparatedWithCapitalsAndEveryFile) {
  EXPECT_EQ(QtDialogFilter("文本文件|*.txt"), "文本文件 (*.txt *.TXT)");
  EXPECT_EQ(QtDialogFilter("视频|*.mp4;*.mkv|所有文件(*.*)|*.*"),
            "视频 (*.mp4 *.mkv *.MP4 *.MKV);;所有文件(*.*) (*)");
  const std::string video = QtDialogFilter(VIDEO_DIALOG_FILTER);
  EXPECT_EQ(video.rfind("所有视频文件 (*.avi *.wmv ", 0), 0u) << video;
  EXPECT_NE(video.find(" *.webm "), std::string::npos);
  EXPECT_NE(video.find(" *.DVR-MS "), std::string::npos);
  const std::string every = ";;所有文件(*.*) (*)";
  EXPECT_EQ(video.substr(video.size() - every.size()), every);
}

}  // namespace
}  // namespace tamsel
