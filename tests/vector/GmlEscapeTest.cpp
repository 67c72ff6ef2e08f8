// Escaping of text put back into XML: the rebuilt geometry text and the
// written attributes must read back as the bytes they came from.
#include <gtest/gtest.h>

#include <string>

#include "vector/gml/CVtGmlDocument.h"

namespace {

std::string Escaped(const std::string& text, bool attribute) {
  std::string out = "pre:";
  GmlAppendEscaped(out, text, attribute);
  return out;
}

TEST(GmlEscape, OnlyMarkupCharactersAreEscapedWhereverTheyStand) {
  EXPECT_EQ(Escaped("", false), "pre:");
  EXPECT_EQ(Escaped("1.5 2.5,3 4", false), "pre:1.5 2.5,3 4");
  EXPECT_EQ(Escaped("<a&b>", false), "pre:&lt;a&amp;b&gt;");
  EXPECT_EQ(Escaped("x \"q\" y", false), "pre:x \"q\" y");
  EXPECT_EQ(Escaped("x \"q\" y", true), "pre:x &quot;q&quot; y");
  EXPECT_EQ(Escaped("&&", true), "pre:&amp;&amp;");
  EXPECT_EQ(Escaped(std::string("a\0b>", 4), false), std::string("pre:a\0b&gt;", 11));
  const std::string longRun(5000, '7');
  EXPECT_EQ(Escaped(longRun + "<" + longRun, false), "pre:" + longRun + "&lt;" + longRun);
}

}  // namespace
