#include "platform/mfc/CString.h"

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

CString Bytes(const char* p, int n) { return CString(p, n); }

TEST(CStringTest, EmbeddedNulsKeepLengthThroughCopiesAndComparison) {
  CString s = Bytes("ab\0cd", 5);
  EXPECT_EQ(s.GetLength(), 5);
  CString copy = s;
  copy += Bytes("\0x", 2);
  EXPECT_EQ(copy.GetLength(), 7);
  EXPECT_EQ(copy.str(), std::string("ab\0cd\0x", 7));
  EXPECT_EQ((s + s).GetLength(), 10);
  EXPECT_EQ(s.Find('d'), 4);  // search goes past the NUL
  EXPECT_EQ(s.Mid(3), "cd");
  // Two CStrings compare all bytes; a C string argument ends at its NUL.
  EXPECT_NE(s, Bytes("ab\0ce", 5));
  EXPECT_NE(s, "ab");
  EXPECT_GT(s.Compare("ab"), 0);

  EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
  EXPECT_TRUE(CString("abc", -1).IsEmpty());
  EXPECT_TRUE(CString(nullptr, 3).IsEmpty());
  EXPECT_EQ(CString('x', 3), "xxx");
  EXPECT_TRUE(CString('x', -2).IsEmpty());
}

TEST(CStringTest, ElementAccessAllowsTheTerminatorOnlyForReading) {
  CString s("abc");
  EXPECT_EQ(s[3], '\0');
  EXPECT_EQ(s.GetAt(2), 'c');
  EXPECT_THROW(s.GetAt(4), std::out_of_range);
  EXPECT_THROW(s.GetAt(-1), std::out_of_range);
  EXPECT_THROW(s.SetAt(3, 'x'), std::out_of_range);
  // Wide index types must not wrap into range.
  EXPECT_EQ(s[size_t(1)], 'b');
  EXPECT_EQ(s[2L], 'c');
  EXPECT_THROW(s[size_t(1) << 32], std::out_of_range);
  EXPECT_THROW(s[-1L], std::out_of_range);
  EXPECT_THROW(s[size_t(4)], std::out_of_range);
  s.SetAt(0, 'X');
  EXPECT_STREQ(s, "Xbc");
}

TEST(CStringTest, SubstringsClampLikeMfc) {
  const CString s("abcdef");
  EXPECT_EQ(s.Mid(-3), "abcdef");
  EXPECT_EQ(s.Mid(-3, 2), "ab");
  EXPECT_EQ(s.Mid(4), "ef");
  EXPECT_EQ(s.Mid(6), "");
  EXPECT_EQ(s.Mid(100), "");
  EXPECT_EQ(s.Mid(2, 100), "cdef");
  EXPECT_EQ(s.Mid(2, -1), "");
  EXPECT_EQ(s.Mid(1, INT_MAX), "bcdef");
  EXPECT_EQ(s.Mid(INT_MAX, INT_MAX), "");
  EXPECT_EQ(s.Left(-1), "");
  EXPECT_EQ(s.Left(2), "ab");
  EXPECT_EQ(s.Left(100), "abcdef");
  EXPECT_EQ(s.Right(-1), "");
  EXPECT_EQ(s.Right(2), "ef");
  EXPECT_EQ(s.Right(100), "abcdef");
  EXPECT_EQ(CString().Mid(0, 5), "");
  EXPECT_EQ(CString().Right(3), "");

  EXPECT_EQ(s.SpanIncluding("cba"), "abc");
  EXPECT_EQ(s.SpanIncluding("xyz"), "");
  EXPECT_EQ(s.SpanExcluding("dx"), "abc");
  EXPECT_EQ(s.SpanExcluding("xyz"), "abcdef");
}

TEST(CStringTest, FindHandlesStartsOutsideTheString) {
  const CString s("abcabc");
  EXPECT_EQ(s.Find('b', 2), 4);
  EXPECT_EQ(s.Find('b', -5), 1);
  EXPECT_EQ(s.Find('a', 6), -1);
  EXPECT_EQ(s.Find('a', 1000), -1);
  EXPECT_EQ(s.Find("bc", 2), 4);
  EXPECT_EQ(s.Find("bc", 5), -1);
  EXPECT_EQ(s.Find("bc", 7), -1);
  EXPECT_EQ(s.Find("", 6), 6);  // an empty needle matches at the start, even the end
  EXPECT_EQ(s.Find("", 7), -1);
  EXPECT_EQ(s.Find(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(s.Find("abcabcx"), -1);
  EXPECT_EQ(s.ReverseFind('a'), 3);
  EXPECT_EQ(s.ReverseFind('z'), -1);
  EXPECT_EQ(s.FindOneOf("xc"), 2);
  EXPECT_EQ(s.FindOneOf("xyz"), -1);
  EXPECT_EQ(s.FindOneOf(""), -1);
  EXPECT_EQ(s.FindOneOf(nullptr), -1);
  EXPECT_EQ(CString().Find('a'), -1);
  EXPECT_EQ(CString().ReverseFind('a'), -1);
}

TEST(CStringTest, ReplaceDoesNotRescanReplacements) {
  CString s("aaa");
  EXPECT_EQ(s.Replace("aa", "b"), 1);  // matches do not overlap
  EXPECT_EQ(s, "ba");

  s = "abab";
  EXPECT_EQ(s.Replace("ab", "abab"), 2);  // replacement contains the pattern
  EXPECT_EQ(s, "abababab");

  s = "a";
  EXPECT_EQ(s.Replace("a", "aa"), 1);
  EXPECT_EQ(s, "aa");

  s = "x--y--";
  EXPECT_EQ(s.Replace("--", ""), 2);
  EXPECT_EQ(s, "xy");
  s = "x--y";
  EXPECT_EQ(s.Replace("--", nullptr), 1);
  EXPECT_EQ(s, "xy");
  EXPECT_EQ(s.Replace("", "q"), 0);
  EXPECT_EQ(s.Replace(nullptr, "q"), 0);
  EXPECT_EQ(s.Replace("zz", "q"), 0);
  EXPECT_EQ(s, "xy");

  // Pattern taken from the string itself.
  s = "self";
  EXPECT_EQ(s.Replace(static_cast<const char*>(s), "other"), 1);
  EXPECT_EQ(s, "other");

  // Many replacements that grow the string.
  std::string big;
  for (int i = 0; i < 1000; ++i) big += "ab";
  s = big;
  EXPECT_EQ(s.Replace("b", "ccc"), 1000);
  EXPECT_EQ(s.GetLength(), 4000);
  EXPECT_EQ(s.Left(8), "acccaccc");
  EXPECT_EQ(s.Right(4), "accc");

  s = "a.b.c";
  EXPECT_EQ(s.Replace('.', '/'), 2);
  EXPECT_EQ(s, "a/b/c");
  EXPECT_EQ(s.Replace('/', '/'), 0);
  EXPECT_EQ(s.Remove('/'), 2);
  EXPECT_EQ(s, "abc");
}

TEST(CStringTest, TrimRemovesOnlyTheGivenBytes) {
  const char* blanks = " \t\r\n\v\f ";
  CString s(blanks);
  EXPECT_TRUE(s.Trim().IsEmpty());
  s = blanks;
  EXPECT_TRUE(s.TrimLeft().IsEmpty());
  s = blanks;
  EXPECT_TRUE(s.TrimRight().IsEmpty());

  s = "\t x y \r\n";
  EXPECT_EQ(s.Trim(), "x y");
  // GBK text ending in bytes >= 0x80 (including the full-width space A1 A1)
  // is not white space.
  s = "\xA1\xA1\xB7\xD6 \xA1\xA1";
  EXPECT_EQ(s.Trim(), "\xA1\xA1\xB7\xD6 \xA1\xA1");

  s = "xxaxx";
  EXPECT_EQ(s.Trim('x'), "a");
  s = "xxx";
  EXPECT_TRUE(s.TrimLeft('x').IsEmpty());
  s = "xyaxy";
  EXPECT_EQ(s.TrimRight("yx"), "xya");
  EXPECT_EQ(s.TrimLeft("yx"), "a");
  s = "  a ";
  EXPECT_EQ(s.Trim(static_cast<const char*>(nullptr)), "  a ");
  EXPECT_EQ(s.Trim(""), "  a ");
}

TEST(CStringTest, InsertAndDeleteClampAndReturnTheLength) {
  CString s("abcdef");
  EXPECT_EQ(s.Delete(-5, 2), 4);
  EXPECT_EQ(s, "cdef");
  EXPECT_EQ(s.Delete(10), 4);
  EXPECT_EQ(s.Delete(4), 4);
  EXPECT_EQ(s.Delete(0, -1), 4);
  EXPECT_EQ(s.Delete(1, INT_MAX), 1);
  EXPECT_EQ(s, "c");
  EXPECT_EQ(s.Delete(0), 0);
  EXPECT_EQ(s.Delete(0), 0);

  s = "bd";
  EXPECT_EQ(s.Insert(-1, 'a'), 3);
  EXPECT_EQ(s.Insert(2, 'c'), 4);
  EXPECT_EQ(s.Insert(100, "ef"), 6);
  EXPECT_EQ(s, "abcdef");
  EXPECT_EQ(s.Insert(3, nullptr), 6);
  EXPECT_EQ(s.Insert(3, ""), 6);
  s = "ab";
  EXPECT_EQ(s.Insert(1, static_cast<const char*>(s)), 4);  // inserting itself
  EXPECT_EQ(s, "aabb");
}

TEST(CStringTest, FormatHandlesAnyLength) {
  CString s;
  const std::string x3000(3000, 'x');
  s.Format("%s|%d", x3000.c_str(), 42);
  EXPECT_EQ(s.GetLength(), 3003);
  EXPECT_EQ(s.Right(4), "x|42");
  EXPECT_EQ(s.str().find_first_not_of('x'), 3000u);

  // Around the size of the first formatting pass.
  for (int len : {1022, 1023, 1024, 1025, 2048}) {
    const std::string a(static_cast<size_t>(len), 'a');
    s.Format("%s", a.c_str());
    EXPECT_EQ(s.str(), a) << len;
    s.AppendFormat("%c", 'z');
    EXPECT_EQ(s.GetLength(), len + 1);
    EXPECT_EQ(s.Right(2), "az");
  }

  // Arguments are data, not format directives.
  s.Format("%s-%d", "100%d%s%n", 5);
  EXPECT_EQ(s, "100%d%s%n-5");
  s.Format("%5.1f|%-4s|%03d|%%", 2.25, "ab", 7);
  EXPECT_EQ(s, "  2.2|ab  |007|%");

  // The string itself as an argument, short and long.
  s = "ab";
  s.Format("[%s][%s]", static_cast<const char*>(s), static_cast<const char*>(s));
  EXPECT_EQ(s, "[ab][ab]");
  s = x3000;
  s.Format("<%s>", static_cast<const char*>(s));
  EXPECT_EQ(s.GetLength(), 3002);
  EXPECT_EQ(s.Left(2), "<x");
  s = "12";
  s.AppendFormat("%s%s", static_cast<const char*>(s), static_cast<const char*>(s));
  EXPECT_EQ(s, "121212");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, BufferRoundTrips) {
  CString s;
  char* p = s.GetBuffer(10);
  std::strcpy(p, "hello");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(s, "hello");

  // Contents are kept; a shorter explicit length truncates.
  p = s.GetBuffer(0);
  EXPECT_EQ(std::string(p), "hello");
  p[1] = 'E';
  s.ReleaseBuffer(2);
  EXPECT_EQ(s, "hE");

  // Without a NUL written the length stops at the buffer size.
  p = s.GetBuffer(8);
  std::memset(p, 'z', 8);
  s.ReleaseBuffer();
  EXPECT_EQ(s, "zzzzzzzz");
  p = s.GetBuffer();
  s.ReleaseBuffer(1000);
  EXPECT_EQ(s.GetLength(), 8);

  // -1 stops at an embedded NUL, an explicit length keeps it.
  s = Bytes("ab\0cd", 5);
  s.GetBuffer();
  s.ReleaseBuffer(5);
  EXPECT_EQ(s.GetLength(), 5);
  s.GetBuffer();
  s.ReleaseBuffer();
  EXPECT_EQ(s, "ab");

  p = s.GetBufferSetLength(4);
  std::memcpy(p, "wxyz", 4);
  EXPECT_EQ(s, "wxyz");
  s.GetBufferSetLength(-1);
  EXPECT_TRUE(s.IsEmpty());

  s = "keep";
  s.Preallocate(4096);
  EXPECT_EQ(s, "keep");
  EXPECT_GE(s.str().capacity(), 4096u);
}

TEST(CStringTest, ComparisonFoldsAsciiOnly) {
  EXPECT_EQ(CString("Hello").CompareNoCase("hELLO"), 0);
  EXPECT_LT(CString("abc").CompareNoCase("ABCD"), 0);
  EXPECT_GT(CString("abd").CompareNoCase("ABC"), 0);
  EXPECT_EQ(CString().CompareNoCase(nullptr), 0);
  // Letters fold to lower case, so '_' (0x5F) sorts before letters.
  EXPECT_LT(CString("_").CompareNoCase("A"), 0);
  // GBK 0xB7 0xD6 must not be folded to 0xB7 0xF6 (Latin-1 case pairs).
  EXPECT_NE(CString("\xB7\xD6").CompareNoCase("\xB7\xF6"), 0);
  EXPECT_LT(CString("\xB7\xD6").CompareNoCase("\xB7\xF6"), 0);
  // Bytes compare unsigned: high bytes sort after ASCII.
  EXPECT_GT(CString("\xB7").Compare("z"), 0);
  EXPECT_GT(CString("\xB7").CompareNoCase("Z"), 0);
  EXPECT_LT(CString("z"), CString("\xB7"));

  CString s(
      "\xB7\xD6"
      "Ab");
  EXPECT_EQ(s.MakeUpper(),
            "\xB7\xD6"
            "AB");
  EXPECT_EQ(s.MakeLower(),
            "\xB7\xD6"
            "ab");
  s = "\xB7\xF6xY";
  EXPECT_EQ(s.MakeUpper(), "\xB7\xF6XY");
  EXPECT_EQ(s.MakeReverse(), "YX\xF6\xB7");
}

TEST(CStringTest, OperatorsAcceptEveryOperandMix) {
  const CString a("ab");
  const char* c = "cd";
  EXPECT_EQ(a + a, "abab");
  EXPECT_EQ(a + c, "abcd");
  EXPECT_EQ(c + a, "cdab");
  EXPECT_EQ(a + 'x', "abx");
  EXPECT_EQ('x' + a, "xab");
  EXPECT_EQ(a + static_cast<const char*>(nullptr), "ab");
  EXPECT_EQ(CString("1") + "2" + '3' + a + CString("4"), "123ab4");
  CString s = a;
  s += s;
  s += 'z';
  s += static_cast<const char*>(nullptr);
  EXPECT_EQ(s, "ababz");
  s = 'q';
  EXPECT_EQ(s, "q");
  s = static_cast<const char*>(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  s = "abcdef";
  s = static_cast<const char*>(s) + 2;  // assignment from its own buffer
  EXPECT_EQ(s, "cdef");

  EXPECT_TRUE(a == "ab" && "ab" == a);
  EXPECT_TRUE(a != "abc" && "abc" != a);
  EXPECT_TRUE(a < "b" && "a" < a);
  EXPECT_TRUE(a > "a" && "b" > a);
  EXPECT_TRUE(a <= "ab" && "ab" <= a && a >= "ab" && "ab" >= a);
  EXPECT_TRUE(a < CString("abc") && CString("abc") > a);
  EXPECT_TRUE(CString() == static_cast<const char*>(nullptr));
  EXPECT_EQ(a.Collate("ab"), 0);
}

TEST(CStringTest, TokenizeSkipsDelimiterRunsAndEnds) {
  const CString s(" ,a, bc,,d ,");
  int pos = 0;
  std::string joined;
  for (CString tok = s.Tokenize(" ,", pos); pos != -1; tok = s.Tokenize(" ,", pos)) joined += tok.str() + "|";
  EXPECT_EQ(joined, "a|bc|d|");
  EXPECT_EQ(pos, -1);
  EXPECT_TRUE(s.Tokenize(" ,", pos).IsEmpty());  // stays at the end
  EXPECT_EQ(pos, -1);

  pos = 100;
  EXPECT_TRUE(s.Tokenize(",", pos).IsEmpty());
  EXPECT_EQ(pos, -1);
  pos = 0;
  EXPECT_TRUE(CString(",,,").Tokenize(",", pos).IsEmpty());
  EXPECT_EQ(pos, -1);

  // No delimiters: the remainder is one token.
  pos = 2;
  EXPECT_EQ(CString("abcd").Tokenize("", pos), "cd");
  EXPECT_TRUE(CString("abcd").Tokenize("", pos).IsEmpty());
  EXPECT_EQ(pos, -1);
}

}  // namespace
