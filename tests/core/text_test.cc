// Text conversions and escaping: the wire encoding, form decoding, list
// titles and the contexts values are written into.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace desk {
namespace {

using namespace desk::text;

TEST(Gb18030, ChineseRoundTripsIncludingCharactersOutsideGb2312) {
  EXPECT_EQ(to_gb18030("中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(from_gb18030("\xD6\xD0\xCE\xC4"), "中文");
  // U+20000 lies beyond the two-byte table: a four-byte sequence.
  EXPECT_EQ(to_gb18030("\xF0\xA0\x80\x80"), "\x95\x32\x82\x36");
  EXPECT_EQ(from_gb18030("\x95\x32\x82\x36"), "\xF0\xA0\x80\x80");
  for (std::string s :
       {"办公室 ABC 123 €", "“引号”…、《书名》", "鎔 堃 喆 玥", "\xF0\xAA\x9A\xB2 x"})
    EXPECT_EQ(from_gb18030(to_gb18030(s)), s) << s;
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text += "公文流转";
  EXPECT_EQ(from_gb18030(to_gb18030(long_text)), long_text);
  EXPECT_EQ(to_gb18030("plain ascii"), "plain ascii");
}

// The encoder's own table for the Basic Multilingual Plane gives what the
// system's converter gives, for every character it converts, in running text.
TEST(Gb18030, EveryCharacterOfTheBasicPlaneAsTheConverterHasIt) {
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  auto convert = [&](std::string in_text, std::string& result) {
    result.assign(in_text.size() * 2 + 8, '\0');
    char* in = in_text.data();
    char* out = result.data();
    size_t inleft = in_text.size(), outleft = result.size();
    bool ok = iconv(cd, &in, &inleft, &out, &outleft) != static_cast<size_t>(-1);
    result.resize(result.size() - outleft);
    return ok;
  };
  std::string all = "a", expected = "a", one;
  int refused = 0;
  for (int cp = 0x80; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string c = decode_ncr("&#" + std::to_string(cp) + ";");
    if (!convert(c, one)) {
      ++refused;
      continue;
    }
    all += c + "x";
    expected += one + "x";
  }
  iconv_close(cd);
  EXPECT_LT(refused, 100);
  EXPECT_TRUE(to_gb18030(all) == expected);
  EXPECT_EQ(from_gb18030(to_gb18030(all)), all);
}

// Appending converts in place: a character at any place among ASCII runs of
// any length, after what `out` held; what the table cannot do leaves `out`
// untouched for the converter.
TEST(Gb18030, AppendingKeepsWhatWasThereAndRefusesWhole) {
  for (std::size_t before = 0; before < 20; ++before) {
    for (std::size_t after : {0u, 1u, 7u, 8u, 9u, 17u}) {
      const std::string a(before, 'a'), b(after, 'b');
      std::string out = "<kept>";
      ASSERT_TRUE(append_gb18030(out, a + "中" + b + "文"));
      EXPECT_EQ(out, "<kept>" + a + "\xD6\xD0" + b + "\xCE\xC4") << before << " " << after;
    }
  }
  for (const std::string& refused :
       std::vector<std::string>{"x\xF0\xA0\x80\x80", std::string(12, 'y') + "\xFF", "中\xE4\xB8"}) {
    std::string out = "<kept>";
    EXPECT_FALSE(append_gb18030(out, refused));
    EXPECT_EQ(out, "<kept>");
  }
}

TEST(Gb18030, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(to_gb18030("a\xFF"
                       "b"),
            "a?b");
  EXPECT_EQ(to_gb18030("\xED\xA0\x80x").back(), 'x');  // an encoded surrogate
  std::string cut = to_gb18030("中\xE4\xB8");          // a truncated last character
  ASSERT_GE(cut.size(), 3u);
  EXPECT_EQ(cut.substr(0, 2), "\xD6\xD0");
  EXPECT_EQ(cut.find_first_not_of('?', 2), std::string::npos);

  EXPECT_EQ(from_gb18030("\xD6\xD0\xFF"), "中\xEF\xBF\xBD");
  EXPECT_EQ(from_gb18030("a\xD6"), "a\xEF\xBF\xBD");    // lead byte at the end
  EXPECT_EQ(from_gb18030("\xD6 x"), "\xEF\xBF\xBD x");  // lead byte before a blank
}

TEST(DecodeNcr, ReferencesTheFormsCodePageLacks) {
  EXPECT_EQ(decode_ncr("&#20013;&#x6587;&#X6587;"), "中文文");
  EXPECT_EQ(decode_ncr("&#131072;"), "\xF0\xA0\x80\x80");
  EXPECT_EQ(decode_ncr("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(decode_ncr("a&#8364;b&#65;"), "a€bA");
  EXPECT_EQ(decode_ncr("&#&#20013;"), "&#中");
  // Everything that is not a complete valid reference stays as typed.
  for (const char* s : {"&#20013", "&#;", "&#x;", "&#xZZ;", "&#abc;", "&amp;", "&#0;", "&#xD800;",
                        "&#57343;", "&#x110000;", "&#1114112;", "&#999999999;", "&#", "&", "&#x"})
    EXPECT_EQ(decode_ncr(s), s) << s;
  EXPECT_EQ(decode_ncr("&#20013 &#20013;"), "&#20013 中");
}

TEST(UrlDecode, FormComponentsAndPaths) {
  EXPECT_EQ(url_decode("a+b%20c"), "a b c");
  EXPECT_EQ(url_decode("%41%6a%2B"), "Aj+");
  EXPECT_EQ(url_decode("%D6%D0"), "\xD6\xD0");
  EXPECT_EQ(url_decode("%00"), std::string(1, '\0'));
  EXPECT_EQ(url_decode("100%"), "100%");
  EXPECT_EQ(url_decode("%4"), "%4");
  EXPECT_EQ(url_decode("%zz%4g"), "%zz%4g");
  EXPECT_EQ(url_decode("%%41"), "%A");
  EXPECT_EQ(url_decode_path("/a+b/%41"), "/a+b/A");
  for (std::string s : {std::string("中 &=+/?%\x01"), std::string("\0\xFF", 2)})
    EXPECT_EQ(url_decode(url_encode(s)), s);
}

TEST(CutTitle, CountsCharactersNotBytes) {
  EXPECT_EQ(cut_title("一二三四五", 5), "一二三四五");
  EXPECT_EQ(cut_title("一二三四五六", 5), "一二三四五…");
  EXPECT_EQ(cut_title("ab三四五", 5), "ab三四五");
  EXPECT_EQ(cut_title("ab三四五x", 5), "ab三四五…");
  EXPECT_EQ(cut_title("\xF0\xA0\x80\x80"
                      "bc",
                      2),
            "\xF0\xA0\x80\x80"
            "b…");
  EXPECT_EQ(cut_title("", 3), "");
  EXPECT_EQ(char_count("中a\xF0\xA0\x80\x80"), 3u);
  // A truncated character at the end never runs past the string.
  EXPECT_EQ(char_prefix("a\xE4\xB8", 5), "a\xE4\xB8");
}

TEST(Escaping, HtmlAndScriptContexts) {
  EXPECT_EQ(html(R"(<a href="x">'Tom' & 中</a>)"),
            "&lt;a href=&quot;x&quot;&gt;&#39;Tom&#39; &amp; 中&lt;/a&gt;");
  std::string js = js_string("it's \"x\"\\ </script><!-- a\r\nb\x01 中");
  EXPECT_EQ(js, "it\\x27s \\x22x\\x22\\\\ \\x3C/script\\x3E\\x3C!-- a\\r\\nb\\x01 中");
  // Line and paragraph separators end a script string in older engines.
  EXPECT_EQ(js_string("a\xE2\x80\xA8"
                      "b\xE2\x80\xA9"),
            "a\\u2028b\\u2029");
  EXPECT_EQ(js_string("\xE2\x80\x94"), "\xE2\x80\x94");  // other E2 80 xx characters stay

  EXPECT_EQ(header_safe("a\r\nSet-Cookie: x=1"), "aSet-Cookie: x=1");
  EXPECT_EQ(header_safe("t\tb\x7F 中"), "tb 中");
}

TEST(ParseInt, WholeNumbersOnly) {
  long long v = 0;
  EXPECT_TRUE(parse_int(" 42 ", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(parse_int("+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(parse_int("-7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(parse_int("9223372036854775807", v));
  EXPECT_EQ(v, 9223372036854775807LL);
  EXPECT_TRUE(parse_int("-9223372036854775808", v));
  for (const char* bad : {"", "   ", "+", "-", "+-5", "-+5", "--5", "1 2", "12abc", "0x10", "1.5",
                          "9223372036854775808", "-9223372036854775809", "99999999999999999999"})
    EXPECT_FALSE(parse_int(bad, v)) << bad;
  // Row ids are whole numbers above 0; everything else is "no id".
  EXPECT_EQ(parse_id(" 12 "), 12);
  for (const char* bad : {"0", "-3", "", "1 or 1=1", "7;", "99999999999999999999"})
    EXPECT_EQ(parse_id(bad), 0) << bad;
}

}  // namespace
}  // namespace desk
