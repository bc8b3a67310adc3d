// The JSON writer's escaping and the reader's refusal of malformed text.
#include "zub32/Json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zub32 {
namespace {

TEST(JsonTest, EscapesAsJsonRequiresAndReplacesInvalidUtf8) {
  const struct {
    std::string bytes;
    std::string written;
    std::size_t max_length = std::string::npos;
  } kCases[] = {
      {"plain /radar/a.png", "\"plain /radar/a.png\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"a\r\nb\tc\x01", "\"a\\r\\nb\\tc\\u0001\""},
      {std::string("z\0z", 3), "\"z\\u0000z\""},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8C\xA7", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8C\xA7\""},
      {"x\xFFy", "\"x\xEF\xBF\xBDy\""},              // a byte no sequence starts with
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // overlong
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // cut short
      // Cut where the text as written passes the bound, never inside a
      // character or an escape, and marked with U+2026.
      {"abcdef", "\"abcdef\"", 6},
      {"abcdefg", "\"abc\xE2\x80\xA6\"", 6},
      {"ab\"cdefg", "\"ab\xE2\x80\xA6\"", 6},
      {"a\xC3\xA9\xC3\xA9\xC3\xA9", "\"a\xC3\xA9\xE2\x80\xA6\"", 6},
      {"\x01\x01", "\"\"", 2},  // no room for the mark either
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JsonString(c.bytes, c.max_length), c.written) << c.bytes;
    // What is written reads back to the text that writes it again.
    const std::optional<JsonValue> back = ParseJson(c.written);
    ASSERT_TRUE(back) << c.written;
    EXPECT_EQ(JsonString(back->text), c.written);
  }
}

TEST(JsonTest, ReadsDocumentsAndRefusesMalformedOnes) {
  const std::optional<JsonValue> document = ParseJson(
      " {\"a\": [1, -2, 3.5e1], \"b\": {\"c\": null, \"d\": true}, \"e\": "
      "\"\\u00e9\\ud83c\\udf27\"} ");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->Member("a")->items.at(1).AsInteger(), -2);
  EXPECT_FALSE(document->Member("a")->items.at(2).AsInteger());
  EXPECT_EQ(document->Member("b")->Member("d")->AsBool(), true);
  EXPECT_EQ(document->Member("e")->AsString(), "\xC3\xA9\xF0\x9F\x8C\xA7");
  EXPECT_EQ(document->Member("missing"), nullptr);

  for (const std::string& text : std::vector<std::string>{
           "", "{", "{\"a\":1,}", "[1 2]", "{\"a\" 1}", "01", "1.", "-", "tru", "\"open",
           "\"tab\there\"", "\"\\x\"", "\"\\u12\"", "{} {}", "\"\xFF\"", "{'a':1}",
           std::string(kMaxJsonDepth + 2, '[') + std::string(kMaxJsonDepth + 2, ']')}) {
    EXPECT_FALSE(ParseJson(text)) << text;
  }
  EXPECT_FALSE(ParseJson("99999999999999999999")->AsInteger());
}

}  // namespace
}  // namespace zub32
