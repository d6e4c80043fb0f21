#include "foundation/Charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace {

// The local code page set for one test and restored afterwards.
class CharsetCodePage : public testing::Test {
 protected:
  void TearDown() override { platform::SetLocalCodePage(""); }
};

// Decodes into a buffer of exactly strlen(text) + 1 bytes, so that a result
// longer than its input is caught by the sanitizers and by the size check.
std::string Decode(const std::string& text) {
  std::vector<char> out(text.size() + 1, 'X');
  EXPECT_EQ(DecodeCharRefs(out.data(), text.c_str()), 0);
  const std::size_t length = strnlen(out.data(), out.size());
  EXPECT_LT(length, out.size()) << "result not terminated";
  return std::string(out.data(), length);
}

const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";            // 中文
const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文

TEST_F(CharsetCodePage, DecodeCharRefsTable) {
  const struct {
    const char* what;
    std::string input;
    std::string gbk;   // result with the local code page GBK
    std::string utf8;  // result with the local code page UTF-8
  } cases[] = {
      {"two long references then ASCII", "&#x4E2D;&#x6587;.txt", kZhongWenGbk + ".txt", kZhongWenUtf8 + ".txt"},
      {"lower-case digits", "&#x4e2d;&#x6587;", kZhongWenGbk, kZhongWenUtf8},
      {"reference ending at the last byte", "a&#x4E2D;", "a\xD6\xD0", "a\xE4\xB8\xAD"},
      {"the byte after &# is not examined", "&#u4E2D;", "\xD6\xD0", "\xE4\xB8\xAD"},
      {"no reference passes through", "plain \xD6\xD0 text & more #;", "plain \xD6\xD0 text & more #;",
       "plain \xD6\xD0 text & more #;"},
      {"long form without ;", "&#x4E2D.txt", "&#x4E2D.txt", "&#x4E2D.txt"},
      {"long form, ASCII character", "&#x0041;", "A", "A"},
      {"short form, Latin-1 letter", "caf&#xe9;", "caf\xA8\xA6", "caf\xC3\xA9"},
      {"short form at the very end", "&#x4E;", "N", "N"},
      {"non-hex digits are kept", "&#x4G2D;&#xZ9;", "&#x4G2D;&#xZ9;", "&#x4G2D;&#xZ9;"},
      {"U+0000 is kept", "a&#x0000;b&#x00;", "a&#x0000;b&#x00;", "a&#x0000;b&#x00;"},
      {"surrogate halves are kept", "&#xD800;&#xdfff;", "&#xD800;&#xdfff;", "&#xD800;&#xdfff;"},
      {"not in GBK is kept there", "&#x0E01;", "&#x0E01;", "\xE0\xB8\x81"},
      {"bad long form falls back to a short one", "&#xe9;x;", "\xA8\xA6x;", "\xC3\xA9x;"},
      {"a reference inside a broken one", "&#x&#x4E2D;", "&#x\xD6\xD0", "&#x\xE4\xB8\xAD"},
      {"too short for any form", "&#x4;", "&#x4;", "&#x4;"},
      {"empty", "", "", ""},
  };
  for (const auto& c : cases) {
    platform::SetLocalCodePage("GBK");
    EXPECT_EQ(Decode(c.input), c.gbk) << c.what;
    platform::SetLocalCodePage("UTF-8");
    EXPECT_EQ(Decode(c.input), c.utf8) << c.what;
  }
}

TEST(CharsetDecode, NullPointersWriteNothing) {
  char out[4] = {'k', 'e', 'e', 'p'};
  EXPECT_EQ(DecodeCharRefs(out, nullptr), -1);
  EXPECT_EQ(DecodeCharRefs(nullptr, "&#x4E2D;"), -1);
  EXPECT_EQ(std::string(out, 4), "keep");
}

TEST(CharsetConverter, ConvertsIntoAZeroFilledBuffer) {
  CCharsetConverter converter;
  ASSERT_TRUE(converter.Open("UTF-8", "GBK"));
  char out[8];
  std::memset(out, 'X', sizeof(out));
  EXPECT_EQ(converter.Convert(kZhongWenUtf8.data(), kZhongWenUtf8.size(), out, sizeof(out)), 4);
  EXPECT_EQ(std::string(out, 4), kZhongWenGbk);
  EXPECT_EQ(std::string(out + 4, 4), std::string(4, '\0'));

  // One descriptor serves many conversions.
  EXPECT_EQ(converter.Convert("ab", 2, out, sizeof(out)), 2);
  EXPECT_EQ(std::string(out, 3), std::string("ab\0", 3));

  // Re-opening replaces the pair.
  ASSERT_TRUE(converter.Open("UCS-2BE", "UTF-8"));
  EXPECT_EQ(converter.Convert("\x4E\x2D", 2, out, sizeof(out)), 3);
  EXPECT_EQ(std::string(out, 3), "\xE4\xB8\xAD");
}

TEST(CharsetConverter, Failures) {
  CCharsetConverter converter;
  char out[4];
  EXPECT_EQ(converter.Convert("a", 1, out, sizeof(out)), -1) << "not opened";
  EXPECT_FALSE(converter.Open("NO-SUCH-CHARSET", "UTF-8"));
  EXPECT_EQ(converter.Convert("a", 1, out, sizeof(out)), -1);

  ASSERT_TRUE(converter.Open("UTF-8", "GBK"));
  const struct {
    const char* what;
    std::string input;
    std::size_t room;
  } cases[] = {
      {"invalid UTF-8", "a\xFF", 4},
      {"incomplete sequence", "\xE4\xB8", 4},
      {"character GBK lacks", "\xE0\xB8\x81", 4},
      {"output too small", kZhongWenUtf8, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(converter.Convert(c.input.data(), c.input.size(), out, c.room), -1) << c.what;
  }
  converter.Close();
  EXPECT_EQ(converter.Convert("a", 1, out, sizeof(out)), -1) << "closed";
}

TEST(CharsetConvert, StrictAndLossyTable) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, not in GBK
  const struct {
    const char* what;
    const char* from;
    const char* to;
    std::string input;
    bool strictOk;
    std::string lossy;
  } cases[] = {
      {"UTF-8 to GBK", "UTF-8", "GBK", kZhongWenUtf8 + ".txt", true, kZhongWenGbk + ".txt"},
      {"GBK to UTF-8", "GBK", "UTF-8", kZhongWenGbk, true, kZhongWenUtf8},
      {"empty", "UTF-8", "GBK", "", true, ""},
      {"whole unrepresentable sequence is one ?", "UTF-8", "GBK", "a" + emoji + "b", false, "a?b"},
      {"invalid byte", "UTF-8", "GBK", "a\xFF" "b", false, "a?b"},
      {"broken sequence before ASCII", "UTF-8", "GBK", "a\xF0\x9F\x98" "b", false, "a?b"},
      {"lone continuation bytes", "UTF-8", "GBK", "\x80\x80", false, "??"},
      {"incomplete at the end", "UTF-8", "GBK", "a\xE4\xB8", false, "a?"},
      {"invalid GBK byte", "GBK", "UTF-8", "\xFF" "a", false, "?a"},
  };
  for (const auto& c : cases) {
    std::string strict;
    EXPECT_EQ(ConvertStrict(c.from, c.to, c.input, strict), c.strictOk) << c.what;
    if (c.strictOk) {
      EXPECT_EQ(strict, c.lossy) << c.what;
    }
    EXPECT_EQ(ConvertLossy(c.from, c.to, c.input), c.lossy) << c.what;
  }
}

TEST(CharsetConvert, LongTextsGrowTheOutput) {
  std::string utf8;
  std::string gbk;
  for (int i = 0; i < 50000; ++i) {
    utf8 += kZhongWenUtf8 + "x";
    gbk += kZhongWenGbk + "x";
  }
  std::string out;
  ASSERT_TRUE(ConvertStrict("GBK", "UTF-8", gbk, out));
  EXPECT_EQ(out, utf8);
  EXPECT_EQ(ConvertLossy("GBK", "UTF-8", gbk + "\xFF"), utf8 + "?");
}

TEST(CharsetConvert, UnknownEncoding) {
  std::string out;
  EXPECT_FALSE(ConvertStrict("NO-SUCH-CHARSET", "UTF-8", "abc", out));
  EXPECT_EQ(ConvertLossy("NO-SUCH-CHARSET", "UTF-8", "abc"), "abc");
}

}  // namespace
