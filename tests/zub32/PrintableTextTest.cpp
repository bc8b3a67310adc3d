// Bytes from the network shown on the console and in reports: every byte
// stays visible, none acts as a line break, markup or terminal control.
#include "zub32/PrintableText.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Console.h"

namespace zub32 {
namespace {

TEST(PrintableTextTest, BytesOutsidePrintableAsciiAreHexEscapes) {
  EXPECT_EQ(PrintableBytes(""), "");
  EXPECT_EQ(PrintableBytes("plain <text> & tab\there"), "plain <text> & tab\there");
  EXPECT_EQ(PrintableBytes(std::string("\0\x1f\x7f\x80\xff\r\n", 7)),
            "\\x00\\x1F\\x7F\\x80\\xFF\\x0D\\x0A");
  EXPECT_EQ(PrintableBytes("caf\xc3\xa9"), "caf\\xC3\\xA9");
}

TEST(PrintableTextTest, OneLineSqueezesEscapesAndBoundsTheText) {
  EXPECT_EQ(OneLine("", 10), "");
  EXPECT_EQ(OneLine(" \r\n\t ", 10), "");
  EXPECT_EQ(OneLine("\r\nHTTP/1.1 404 Not Found\r\n\r\n", 80), "HTTP/1.1 404 Not Found");
  // Control characters a hostile peer may send, an escape sequence among
  // them, never reach the log as such.
  EXPECT_EQ(OneLine(std::string("a\0b\x1b[2Jc\x7f\x9b", 10), 80), "a\\x00b\\x1B[2Jc\\x7F\\x9B");
  EXPECT_EQ(OneLine("0123456789", 10), "0123456789");
  EXPECT_EQ(OneLine("0123456789A", 10), "0123456...");
  // The cut never splits an escape.
  EXPECT_EQ(OneLine("012345\x01zzzz", 10), "012345...");
  EXPECT_EQ(OneLine(std::string(100000, 'x'), 200).size(), 200u);
  EXPECT_EQ(OneLine("abcdef", 2), "ab");
}

TEST(PrintableTextTest, ConsoleLinesAreEscapedOnceAndCutBetweenEscapes) {
  using platform::ConsoleText;
  using platform::kMaxConsoleLineBytes;
  const std::string forged = "/a.png\r\nSummary: ok\x1b]0;title\x07";
  EXPECT_EQ(ConsoleText(forged), "/a.png\\x0D\\x0ASummary: ok\\x1B]0;title\\x07");
  // Text escaped before stays as it is.
  EXPECT_EQ(ConsoleText(ConsoleText(forged)), ConsoleText(forged));
  const std::string full(kMaxConsoleLineBytes, 'x');
  EXPECT_EQ(ConsoleText(full), full);
  const std::string cut = ConsoleText(full + "y");
  EXPECT_EQ(cut.size(), kMaxConsoleLineBytes);
  EXPECT_TRUE(cut.ends_with("x..."));
  // An escape that would cross the mark is left out whole.
  const std::string escapes = ConsoleText(std::string(kMaxConsoleLineBytes - 5, 'x') + "\xff\xff");
  EXPECT_EQ(escapes, std::string(kMaxConsoleLineBytes - 5, 'x') + "...");
  EXPECT_LE(ConsoleText(std::string(100000, '\x01')).size(), kMaxConsoleLineBytes);
}

}  // namespace
}  // namespace zub32
