// What every platform must give alike, run on each: natively, and for the
// Windows build under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform.h"

namespace {

TEST(TimeText, Past2038) {
  // 2040-01-01 12:00 UTC: in every time zone still 1 or 2 January 2040. A
  // 32-bit time would have wrapped to 1904.
  char text[25];
  timeText(2208988800LL + 12 * 3600, text);
  std::string t = text;
  ASSERT_EQ(t.size(), 24u) << t;
  EXPECT_TRUE(t.rfind("Sun Jan 01 ", 0) == 0 || t.rfind("Mon Jan 02 ", 0) == 0) << t;
  EXPECT_EQ(t.substr(13, 3), ":00") << t;  // no zone is off by other than whole quarters
  EXPECT_EQ(t.substr(19), " 2040") << t;
  localTimeText(text);
  EXPECT_EQ(std::strlen(text), 24u);
}

TEST(FileState, MissingUnreadableAndReadable) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "varnok-file-state";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder.ini");
  std::ofstream(dir / "here.ini") << "[Settings]\n";
  const struct {
    const char* name;
    FileState state;
  } cases[] = {
      {"here.ini", kFileReadable},
      {"missing.ini", kFileMissing},
      {"no-such-folder/x.ini", kFileMissing},
      {"folder.ini", kFileUnreadable},
  };
  for (const auto& c : cases) {
    std::wstring path = (dir / c.name).wstring();
    unsigned long error = 0;
    EXPECT_EQ(fileState(path.c_str(), &error), c.state) << c.name;
    if (c.state == kFileUnreadable) {
      EXPECT_NE(error, 0u) << c.name;  // the reason for the message
    }
  }
  fs::remove_all(dir);
}

}  // namespace
