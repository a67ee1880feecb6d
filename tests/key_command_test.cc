#include "key_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "channel_change.h"
#include "fake_platform.h"
#include "serial_line.h"

namespace {

// CRC-16/KERMIT, worked out here independently of the table in the program.
uint16_t crcKermit(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

TEST(Crc, KermitCheckValue) {
  EXPECT_EQ(crcKermit(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x2189);
}

TEST(KeyMessage, DigitFiveIsExactlyTheseBytes) {
  const uint8_t want[33] = {0x10, 0x70, 0x00, 0x02, 0x03, 0x40, 0xC8, 0x27, 0x10, 0x03, 0x10,
                            0x78, 0x00, 0x03, 0x03, 0x40, 0x00, 0x68, 0x96, 0x10, 0x03, 0x10,
                            0x78, 0x00, 0x04, 0x10, 0x40, 0x22, 0x05, 0x60, 0x49, 0x10, 0x03};
  EXPECT_EQ(0, std::memcmp(fillKeySlot(keyCodes[5]), want, 33));
}

// Every frame of every digit's message carries the right check, its key
// byte is the digit, and the message keeps the frame layout.
TEST(KeyMessage, EveryDigitFramesCheckOut) {
  for (int digit = 0; digit <= 9; ++digit) {
    SCOPED_TRACE(digit);
    const uint8_t* m = fillKeySlot(keyCodes[digit]);
    EXPECT_EQ(m, keyMessage);
    EXPECT_EQ(m[28], digit);
    const int starts[3] = {0, 10, 21};
    for (int start : starts) {
      const uint8_t* frame = m + start;
      ASSERT_EQ(frame[0], 0x10);
      int length = frame[2] << 8 | frame[3];
      uint16_t check = uint16_t(frame[4 + length] << 8 | frame[5 + length]);
      EXPECT_EQ(check, crcKermit(frame + 1, size_t(3 + length))) << "frame at " << start;
      EXPECT_EQ(frame[6 + length], 0x10);
      EXPECT_EQ(frame[7 + length], 0x03);
    }
  }
}

TEST(KeyMessage, SendWritesTheWholeMessageEachTime) {
  fake::reset();
  std::wcscpy(portName, L"COM1");
  ASSERT_TRUE(openPort());
  EXPECT_TRUE(sendKeyCode(keyCodes[0]));
  EXPECT_TRUE(sendKeyCode(keyCodes[0]));
  EXPECT_TRUE(sendKeyCode(keyCodes[9]));
  std::vector<std::string> w = fake::writes();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0], w[1]);
  EXPECT_EQ(w[0].substr(84), "00 37 E4 10 03");  // bytes 28 to 32
  EXPECT_EQ(w[2].substr(84), "09 AA 25 10 03");
  for (const std::string& bytes : w) EXPECT_EQ(bytes.size(), 33u * 3 - 1);
  closePort();
}

TEST(KeyMessage, SendReportsAFailedWrite) {
  fake::reset();
  fake::failWriteNumber = 1;
  std::wcscpy(portName, L"COM1");
  ASSERT_TRUE(openPort());
  EXPECT_FALSE(sendKeyCode(keyCodes[1]));
  closePort();
}

}  // namespace
