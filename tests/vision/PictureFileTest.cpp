// Pictures written for clients: complete at every moment a client may read them, a failed write
// leaving the previous picture and no litter.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "vision/PictureFile.h"

namespace {

using visionmod::WritePicture;

cv::Mat Picture(int shade) {
  return cv::Mat(720, 1280, CV_8UC3, cv::Scalar(shade, 255 - shade, 7));
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

TEST(WritePicture, WritesWhatImreadReadsBackAndReplacesTheOldOne) {
  testsupport::TempDir dir;
  const std::string path = dir.file("photo.png");
  ASSERT_TRUE(WritePicture(path, Picture(10)));
  ASSERT_TRUE(WritePicture(path, Picture(200)));
  const cv::Mat back = cv::imread(path, cv::IMREAD_COLOR);
  ASSERT_EQ(back.size(), cv::Size(1280, 720));
  EXPECT_EQ(cv::norm(back, Picture(200), cv::NORM_INF), 0);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"photo.png"}) << "nothing left beside it";
}

TEST(WritePicture, AReaderNeverSeesAHalfWrittenPicture) {
  testsupport::TempDir dir;
  const std::string path = dir.file("photo.png");
  ASSERT_TRUE(WritePicture(path, Picture(0)));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 40; ++i) WritePicture(path, Picture(i * 5));
    done = true;
  });
  int reads = 0;
  int incomplete = 0;
  while (!done || reads == 0) {
    ++reads;
    if (!testsupport::PngComplete(path)) ++incomplete;
  }
  writer.join();
  EXPECT_EQ(incomplete, 0) << "of " << reads << " reads";
}

TEST(WritePicture, APathThatCannotBeReplacedLeavesNoLitter) {
  testsupport::TempDir dir;
  const std::string path = dir.file("photo.png");
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // a folder where the picture should go
  EXPECT_FALSE(WritePicture(path, Picture(10)));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"photo.png"});
}

TEST(WritePicture, AMissingFolderIsAFailureNotACrash) {
  testsupport::TempDir dir;
  EXPECT_FALSE(WritePicture(dir.file("gone/photo.png"), Picture(10)));
  EXPECT_TRUE(Names(dir.path()).empty());
}

}  // namespace
