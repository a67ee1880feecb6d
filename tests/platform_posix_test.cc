#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform-posix.h"
#include "profile.h"

namespace {

std::wstring scan(const std::string& bytes, const wchar_t* key, size_t piece = 0,
                  const wchar_t* section = L"Settings") {
  ProfileScan s;
  profileScanStart(&s, section, key);
  if (piece == 0) piece = bytes.size() ? bytes.size() : 1;
  for (size_t i = 0; i < bytes.size(); i += piece)
    profileScanFeed(&s, reinterpret_cast<const unsigned char*>(bytes.data()) + i,
                    std::min(piece, bytes.size() - i));
  wchar_t value[260];
  uint32_t n = profileScanFinish(&s, value, 260);
  EXPECT_EQ(n, std::wcslen(value));
  return value;
}

std::string utf16(const std::wstring& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  auto unit = [&](uint32_t u) {
    char high = char(u >> 8), low = char(u & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  };
  for (wchar_t c : text) {
    uint32_t code = uint32_t(c);
    if (code < 0x10000) {
      unit(code);
    } else {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return out;
}

TEST(Profile, ReadsAsWindowsDoes) {
  const struct {
    const char* file;
    const wchar_t* key;
    const wchar_t* value;
  } cases[] = {
      {"[Settings]\nport=COM1\n", L"port", L"COM1"},
      {"[settings]\nPORT=COM1", L"port", L"COM1"},  // no line feed at the end
      {"  [ Settings ]  \n  port  =   COM3  \n", L"port", L"COM3"},
      {"[Settings]\r\nport=COM1\r\nsleepTime=250\r\n", L"sleepTime", L"250"},
      {"[Settings]\nport=\"COM2\"\n", L"port", L"COM2"},
      {"[Settings]\nport='COM2'\n", L"port", L"COM2"},
      {"[Settings]\nport=\"COM2'\n", L"port", L"\"COM2'"},
      {"[Settings]\nport=\" spaced \"\n", L"port", L" spaced "},
      {"[Settings]\nport=\"\n", L"port", L"\""},
      {"[Settings]\n;port=COM9\nport=COM1\n", L"port", L"COM1"},
      {"[Settings]\nport=COM1\nport=COM2\n", L"port", L"COM1"},
      {"[Settings]\nport=COM1\n[Settings]\nsleepTime=5\n", L"sleepTime", L""},
      {"port=COM7\n[Other]\nport=COM8\n[Settings]\nport=COM1\n", L"port", L"COM1"},
      {"[Settings]\n[Other]\nport=COM8\n", L"port", L""},
      {"[Settings]\nport=\n", L"port", L""},
      {"[Settings]\nport\nport=COM1\n", L"port", L""},
      {"[Settings]\nports=COM1\nport x=COM2\n", L"port", L""},
      {"[Settings]\nport=a=b;c\n", L"port", L"a=b;c"},
      {"[Settings]\nport=/dev/serial/by-id/usb-\xC3\xA9\n", L"port",
       L"/dev/serial/by-id/usb-\x00e9"},
      {"\xEF\xBB\xBF[Settings]\nport=COM4\n", L"port", L"COM4"},
      {"", L"port", L""},
      {"[Settings", L"port", L""},
      // A section runs to the line's last ']'; a line without one is no
      // header and ends no section.
      {"[Settings]]\nport=COM1\n", L"port", L""},
      {"[Settings] ; see [manual]\nport=COM1\n", L"port", L""},
      {"[Settings] ; see manual\nport=COM1\n", L"port", L"COM1"},
      {"[Settings]\n[Other\nport=COM1\n", L"port", L"COM1"},
      // A lone CR ends a line; VT, FF and ^Z are blanks.
      {"[Settings]\rport=COM1\rsleepTime=9", L"port", L"COM1"},
      {"[Settings]\n\x0bport\x0c=\x1a COM1\x1a\n\x1a", L"port", L"COM1"},
      // Not UTF-8: the whole file is Windows-1252, the UTF-8 pair too.
      {"[Settings]\nport=\x80\x81\x9f\xe9\n", L"port", L"\x20ac\x0081\x0178\x00e9"},
      {";\xc3\xa9\n[Settings]\nport=\xc3\xa9\xe9\n", L"port", L"\x00c3\x00a9\x00e9"},
      {"\xFF\xFE", L"port", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(scan(c.file, c.key), c.value);
    EXPECT_EQ(scan(c.file, c.key, 1), c.value);  // fed a byte at a time
  }
}

TEST(Profile, Utf16WithByteOrderMark) {
  for (bool bigEndian : {false, true}) {
    std::string file =
        utf16(L"[Settings]\r\nport=COM\x20ac\U0001F4FA\r\nsleepTime=9\r\n", bigEndian);
    EXPECT_EQ(scan(file, L"port", 3), L"COM\x20ac\U0001F4FA");
    EXPECT_EQ(scan(file, L"sleepTime"), L"9");
  }
}

TEST(Profile, LongValuesAreCutAndLongLinesHarmless) {
  std::string longValue(300, 'x');
  EXPECT_EQ(scan("[Settings]\nport=" + longValue + "\n", L"port"), std::wstring(259, L'x'));
  EXPECT_EQ(scan("[Settings]\nport=\"" + longValue + "\"\n", L"port"), std::wstring(259, L'x'));
  std::string hugeLine(100000, 'y');
  std::string file = "[Settings]\n" + hugeLine + "=1\nsleepTime=" + hugeLine + "\nport=COM1\n";
  EXPECT_EQ(scan(file, L"port", 4096), L"COM1");
  EXPECT_EQ(scan(file, L"sleepTime", 4096), std::wstring(259, L'y'));
  EXPECT_EQ(scan(file, std::wstring(100000, L'y').c_str()), L"");
}

TEST(Profile, ReadsTheFileByItsWindowsName) {
  char dir[] = "/tmp/varnok-profile-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/varnok.ini";
  std::ofstream(path) << "[Settings]\nport=COM2\n";
  std::wstring name = L".\\varnok.ini";
  std::string cwd(4096, 0);
  ASSERT_NE(getcwd(&cwd[0], cwd.size()), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  wchar_t value[260];
  EXPECT_EQ(readProfileString(L"Settings", L"port", value, 260, name.c_str()), 4u);
  EXPECT_EQ(std::wstring(value), L"COM2");
  EXPECT_EQ(readProfileString(L"Settings", L"nothing", value, 260, name.c_str()), 0u);
  EXPECT_EQ(readProfileString(L"Settings", L"port", value, 260, L".\\missing.ini"), 0u);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(DevicePath, ComNamesAndPaths) {
  const struct {
    const wchar_t* name;
    const char* path;  // nullptr: no path
  } cases[] = {
      {L"COM1", "/dev/ttyS0"},
      {L"com2", "/dev/ttyS1"},
      {L"COM12", "/dev/ttyS11"},
      {L"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {L"/dev/pts/7", "/dev/pts/7"},
      {L"COM0", "COM0"},
      {L"COM1x", "COM1x"},
      {L"COM", "COM"},
      {L"./tty\x00e9", "./tty\xC3\xA9"},
      {L"", nullptr},
  };
  for (const auto& c : cases) {
    char path[64];
    bool ok = devicePath(c.name, path, sizeof path);
    EXPECT_EQ(ok, c.path != nullptr);
    if (ok) {
      EXPECT_STREQ(path, c.path);
    }
  }
  char tiny[4];
  EXPECT_FALSE(devicePath(L"/dev/ttyUSB0", tiny, sizeof tiny));
}

TEST(TimeText, EnglishWithTheDayZeroPadded) {
  struct tm t = {};
  t.tm_year = 2009 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_wday = 1;
  t.tm_hour = 9;
  t.tm_min = 30;
  char text[25];
  formatTimeText(&t, text);
  EXPECT_STREQ(text, "Mon Jan 05 09:30:00 2009");
  t = {};
  t.tm_year = 2040 - 1900;  // past 2038: the time is 64 bits wide
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_wday = 1;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  formatTimeText(&t, text);
  EXPECT_STREQ(text, "Mon Dec 31 23:59:59 2040");
}

// The device side on a pseudo-terminal: this test's process holds the far
// end and reads what the program writes.
class PtyDevice : public testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    path = ptsname(master);
    for (char c : path) wpath += wchar_t(c);
  }
  void TearDown() override {
    close(master);
  }
  int master = -1;
  std::string path;
  std::wstring wpath;
};

TEST_F(PtyDevice, OpensConfiguresRawAndWritesEveryByte) {
  Error error = {kErrorNone, 0};
  Device d = deviceOpen(wpath.c_str(), 0, &error);
  ASSERT_NE(d, kBadDevice) << error.code;
  // Only the tuner's settings are ever asked for.
  for (const wchar_t* other : {L"19200,N,8,1", L"9600,E,7,1", L"nonsense", L""})
    EXPECT_EQ(deviceConfigure(d, other).kind, kErrorRefused) << other;
  EXPECT_EQ(deviceConfigure(d, L"9600,N,8,1").kind, kErrorNone);

  struct termios t;
  ASSERT_EQ(tcgetattr(master, &t), 0);  // a pty's two ends share their settings
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);

  unsigned char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = (unsigned char)i;
  ASSERT_TRUE(deviceWrite(d, bytes, 256, &error)) << error.code;
  std::string got;
  char buffer[512];
  while (got.size() < 256) {
    struct pollfd p = {master, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    ssize_t n = read(master, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.append(buffer, size_t(n));
  }
  EXPECT_EQ(got, std::string(reinterpret_cast<char*>(bytes), 256));
  deviceClose(d);
}

TEST_F(PtyDevice, HeldDeviceWaitsItsTurn) {
  Error error = {kErrorNone, 0};
  Device first = deviceOpen(wpath.c_str(), 0, &error);
  ASSERT_NE(first, kBadDevice);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(deviceOpen(wpath.c_str(), 200, &error), kBadDevice);
  EXPECT_EQ(error.kind, kErrorBusy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  // The holder lets go while the next one waits.
  std::thread holder([first] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    deviceClose(first);
  });
  Device next = deviceOpen(wpath.c_str(), 5000, &error);
  holder.join();
  EXPECT_NE(next, kBadDevice);
  deviceClose(next);
}

TEST_F(PtyDevice, StalledLineFailsTheWriteInTime) {
  Error error = {kErrorNone, 0};
  Device d = deviceOpen(wpath.c_str(), 0, &error);
  ASSERT_NE(d, kBadDevice);
  int slave = open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  ASSERT_EQ(tcflow(slave, TCOOFF), 0);
  unsigned char byte = 0x10;
  EXPECT_FALSE(deviceWrite(d, &byte, 1, &error));
  EXPECT_EQ(error.kind, kErrorStalled);
  tcflow(slave, TCOON);
  close(slave);
  deviceClose(d);
}

TEST(Device, OnlyATerminalDeviceOpens) {
  const struct {
    const wchar_t* name;
    ErrorKind kind;
  } cases[] = {
      {L"/nonexistent/tty", kErrorNotFound},   {L"", kErrorNotFound},
      {L"/dev/null", kErrorNotSerial},  // a character device, but no terminal
      {L"/proc/self/status", kErrorNotSerial}, {L"/", kErrorNotSerial},
  };
  for (const auto& c : cases) {
    Error error = {kErrorNone, 0};
    EXPECT_EQ(deviceOpen(c.name, 0, &error), kBadDevice);
    EXPECT_EQ(error.kind, c.kind) << c.name;
  }
}

}  // namespace
