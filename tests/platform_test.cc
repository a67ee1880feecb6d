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

// The same situation gives the same kind of error on every platform, so
// that every message reads alike.
TEST(ErrorKinds, SameSituationSameKind) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "varnok-error-kinds";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder.ini");
  std::ofstream(dir / "here.ini") << "[Settings]\n";
  auto path = [&](const char* name) { return (dir / name).wstring(); };
  const struct {
    const char* name;
    FileState state;
    ErrorKind kind;  // of the file's state where unreadable, and as a port
  } cases[] = {
      {"here.ini", kFileReadable, kErrorNotSerial},
      {"missing.ini", kFileMissing, kErrorNotFound},
      {"no-such-folder/x.ini", kFileMissing, kErrorNotFound},
      {"folder.ini", kFileUnreadable, kErrorNotRegular},
  };
  for (const auto& c : cases) {
    Error error = {kErrorNone, 0};
    EXPECT_EQ(fileState(path(c.name).c_str(), &error), c.state) << c.name;
    if (c.state == kFileUnreadable) {
      EXPECT_EQ(error.kind, c.kind) << c.name;
    }
    error = Error{kErrorNone, 0};
    EXPECT_EQ(deviceOpen(path(c.name).c_str(), 0, &error), kBadDevice) << c.name;
    // A folder is no port either.
    EXPECT_EQ(error.kind, c.kind == kErrorNotRegular ? kErrorNotSerial : c.kind) << c.name;
  }
  Error error = {kErrorNone, 0};
  EXPECT_FALSE(changeDirectory(path("missing").c_str(), &error));
  EXPECT_EQ(error.kind, kErrorNotFound);
  fs::remove_all(dir);
}

}  // namespace
