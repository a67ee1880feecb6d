#include "utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform-posix.h"

namespace {

std::vector<uint32_t> decode(const std::string& bytes) {
  std::vector<uint32_t> out;
  EmitChar put = [](void* context, uint32_t c) {
    static_cast<std::vector<uint32_t>*>(context)->push_back(c);
  };
  Utf8Decoder decoder;
  utf8Start(&decoder);
  for (char b : bytes) utf8Feed(&decoder, (unsigned char)b, put, &out);
  utf8Finish(&decoder, put, &out);
  return out;
}

TEST(Utf8, DecodesValidAndKeepsStrayBytesAsLatin1) {
  const struct {
    std::string bytes;
    std::vector<uint32_t> chars;
  } cases[] = {
      {"COM1", {'C', 'O', 'M', '1'}},
      {"\xC3\xA9", {0xE9}},
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x93\xBA", {0x1F4FA}},
      {"\xE9t\xE9", {0xE9, 't', 0xE9}},                // a Windows-1252 file
      {"\xC3", {0xC3}},                                // cut off at the end
      {"\xC0\xAF", {0xC0, 0xAF}},                      // overlong '/'
      {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},            // a surrogate
      {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},  // past U+10FFFF
      {"\xE2\x82"
       "A",
       {0xE2, 0x82, 'A'}},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.bytes), c.chars) << c.bytes;
}

TEST(Utf8, EncodeRoundTrips) {
  for (uint32_t c : {0x41u, 0xE9u, 0x7FFu, 0x800u, 0x20ACu, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    unsigned char bytes[4];
    size_t n = encodeUtf8(c, bytes);
    EXPECT_EQ(decode(std::string(reinterpret_cast<char*>(bytes), n)), std::vector<uint32_t>{c});
  }
}

TEST(Utf8, WidenArgumentCountsCharacters) {
  wchar_t* wide = widenUtf8("4\xC3\xA9\xF0\x9F\x93\xBA");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"4\x00e9\U0001F4FA"));
  free(wide);
}

}  // namespace
