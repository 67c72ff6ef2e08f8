// What both E00 readers must agree on: which streams are compressed, and
// that a set cut short is reported as truncated with every line before the
// cut still handed out.
#include <cpl_error.h>
#include <gtest/gtest.h>

#include <string>

#include "E00TestData.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "support/ScratchDir.h"
#include "vector/e00/CFileE00.h"
#include "vector/e00/CVtE00.h"

namespace {

using e00test::Lines;

struct Reading {
  Lines lines;
  bool truncated = false;
  std::string message;  // the failure recorded, if any
};

class E00ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    VtGetErrorMsgObj()->Clear();
  }
  void TearDown() override { CPLPopErrorHandler(); }

  std::string Write(const std::string& name, const Lines& lines, CVtE00::E00CompreeLevel level) {
    CVtE00 e00;
    CString path(dir / name);
    EXPECT_TRUE(e00.Create(path, level));
    for (const auto& line : lines) EXPECT_TRUE(e00.WriteNextLine(line.c_str())) << line;
    e00.Close();
    return dir.Get(name);
  }
  Reading ReadStream(const std::string& name) {
    Reading r;
    CVtE00 e00;
    CString path(dir / name);
    if (!e00.Open(path)) {
      r.message = CPLGetLastErrorMsg();
      return r;
    }
    VtGetErrorMsgObj()->Clear();
    for (int guard = 0; guard < 100000; ++guard) {
      const char* line = e00.ReadNextLine();
      if (!line) break;
      r.lines.push_back(line);
    }
    r.truncated = e00.IsTruncated();
    if (VtGetErrorMsgObj()->HasMessage()) r.message = VtGetErrorMsgObj()->GetMessage().str();
    return r;
  }
  Reading ReadFile(const std::string& name) {
    Reading r;
    CFileE00 file;
    CPLErrorReset();
    if (!file.OpenForRead(CString(dir / name))) return r;
    for (int guard = 0; guard < 100000; ++guard) {
      const char* line = file.ReadNextLine();
      if (!line) break;
      r.lines.push_back(line);
    }
    r.truncated = file.IsTruncated();
    if (CPLGetLastErrorNo() != 0) r.message = CPLGetLastErrorMsg();
    return r;
  }

  ScratchDir dir;
};

TEST_F(E00ReadersTest, EverythingOurWriterMakesReadsBack) {
  // Exports whose first compressed line is shorter than 79 characters or
  // holds no "~": a tiny export, a first line cut to 78 characters so as not
  // to end in a space, and a first line of 80 characters with nothing to
  // compress.
  const Lines cases[] = {
      {"EXP  0 /T/TINY.E00", "ARC  2", "EOS"},
      {"EXP  0 /T/CUT.E00", std::string(40, 'x') + "~" + std::string(36, 'y') + "  z", "EOS"},
      {"EXP  0 /T/CUT2.E00", std::string(78, 'q') + "  ", "GRD  2", "EOS"},
      {"EXP  0 /T/LONG.E00", std::string(80, 'L'), "IFO  2", "EOS"},
  };
  for (const Lines& plain : cases) {
    for (auto level : {CVtE00::E00ComprPartial, CVtE00::E00ComprFull}) {
      SCOPED_TRACE(plain[0] + " level " + std::to_string(level));
      const Lines physical = e00test::Split(Write("w.e00", plain, level));
      ASSERT_GE(physical.size(), 2u);
      EXPECT_TRUE(physical[1].size() < 79 || physical[1].find('~') == std::string::npos) << "not a new case";
      const Reading stream = ReadStream("w.e00");
      EXPECT_EQ(stream.lines, plain);
      EXPECT_EQ(stream.message, "");
      const Reading file = ReadFile("w.e00");
      EXPECT_EQ(file.lines, plain);
      EXPECT_FALSE(file.truncated);
    }
  }
  CVtE00 e00;
  CString path(dir / "w.e00");
  ASSERT_TRUE(e00.Open(path));
  EXPECT_TRUE(e00.IsCompressed());
}

TEST_F(E00ReadersTest, PlainExportsStayPlain) {
  // A plain export may carry "EXP  1" too: without a "~" where compressed
  // data would begin, it is read as it stands. "~" in a later line or after
  // a "EXP  0" header proves nothing.
  const Lines plains[] = {
      {"EXP  1 /PLAIN/ONE.E00", "GRD  2", "         1~        2", "EOS"},
      {"EXP  0 /PLAIN/ZERO.E00", "LOG  2 ~", "EOS"},
      {"EXP  1 /PLAIN/LONG.E00", std::string(79, 'p'), "no tilde here", "EOS"},
  };
  for (const Lines& plain : plains) {
    SCOPED_TRACE(plain[0]);
    dir.Put("p.e00", e00test::Join(plain));
    EXPECT_EQ(ReadStream("p.e00").lines, plain);
    EXPECT_EQ(ReadFile("p.e00").lines, plain);
  }
}

TEST_F(E00ReadersTest, ACutSetIsReportedAsTruncated) {
  const Lines plain = e00test::RealisticExport(31, 25);
  const std::string plainBytes = e00test::Join(plain);
  const std::string fullBytes = Write("full.e00", plain, CVtE00::E00ComprFull);
  dir.Put("plain.e00", plainBytes);
  for (const char* name : {"plain.e00", "full.e00"}) {
    const Reading whole = ReadStream(name);
    EXPECT_EQ(whole.lines, plain) << name;
    EXPECT_FALSE(whole.truncated);
    EXPECT_EQ(whole.message, "");
    EXPECT_FALSE(ReadFile(name).truncated);
  }
  // Blank lines and an end-of-file mark after EOS are no cut.
  dir.Put("tail.e00", plainBytes + "\n  \n\x1a");
  EXPECT_FALSE(ReadStream("tail.e00").truncated);
  EXPECT_FALSE(ReadFile("tail.e00").truncated);

  // Cuts anywhere, on a line end or inside a line: every whole line before
  // the cut comes out, then the failure, naming the file.
  for (const std::string* bytes : {&plainBytes, &fullBytes}) {
    for (size_t cut = 20; cut + 4 < bytes->size(); cut += bytes->size() / 37) {
      for (size_t at : {cut, bytes->find('\n', cut) + 1}) {
        if (at >= bytes->size()) continue;  // the whole file: no cut
        SCOPED_TRACE(std::to_string(at) + (bytes == &plainBytes ? " plain" : " full"));
        dir.Put("cut.e00", bytes->substr(0, at));
        for (const Reading& r : {ReadStream("cut.e00"), ReadFile("cut.e00")}) {
          EXPECT_TRUE(r.truncated);
          EXPECT_NE(r.message.find(dir / "cut.e00" + " is truncated"), std::string::npos) << r.message;
          ASSERT_LE(r.lines.size(), plain.size());
          ASSERT_GE(r.lines.size(), 1u);
          // All but the last line read are whole; the last may be the part
          // of a plain line before the cut.
          for (size_t i = 0; i + 1 < r.lines.size(); ++i) ASSERT_EQ(r.lines[i], plain[i]) << i;
          EXPECT_EQ(plain[r.lines.size() - 1].rfind(r.lines.back(), 0), 0u) << r.lines.back();
        }
      }
    }
  }
}

TEST_F(E00ReadersTest, AVolumeCutShortDoesNotRunOnIntoTheNext) {
  // A compressed set cut into two volumes at a physical line, then the first
  // volume loses its last characters.
  const Lines plain = e00test::RealisticExport(32, 40);
  const Lines physical = e00test::Split(Write("whole.e00", plain, CVtE00::E00ComprFull));
  const size_t half = physical.size() / 2;
  const std::string first = e00test::Join(Lines(physical.begin(), physical.begin() + half));
  const std::string second = e00test::Join(Lines(physical.begin() + half, physical.end()));
  dir.Put("set.E01", second);
  dir.Put("set.e00", first);
  const Reading whole = ReadStream("set.e00");
  EXPECT_EQ(whole.lines, plain);
  EXPECT_FALSE(whole.truncated);

  dir.Put("set.e00", first.substr(0, first.size() - 30));
  const Reading cut = ReadStream("set.e00");
  EXPECT_TRUE(cut.truncated);
  EXPECT_NE(cut.message.find(dir / "set.e00" + " is truncated"), std::string::npos) << cut.message;
  ASSERT_LT(cut.lines.size(), plain.size());
  EXPECT_EQ(cut.lines, Lines(plain.begin(), plain.begin() + static_cast<long>(cut.lines.size())));

  // Read volume by volume, the same: a plain volume without its line end
  // before the next one is cut.
  dir.Put("p.e00", "EXP  0 /P\nARC  2\n         1   ");
  dir.Put("p.e01", "EXP  0 /P\nEOS\n");
  const Reading file = ReadFile("p.e00");
  EXPECT_TRUE(file.truncated);
  EXPECT_EQ(file.lines, (Lines{"EXP  0 /P", "ARC  2", "         1   "}));
  EXPECT_NE(file.message.find("p.e00 is truncated"), std::string::npos) << file.message;
}

// The plain lines of a set read whole, for the sweeps below.
Lines SampleLines(const std::string& path) {
  CVtE00 e00;
  CString name(path);
  Lines lines;
  if (!e00.Open(name)) return lines;
  while (const char* line = e00.ReadNextLine()) lines.push_back(line);
  return lines;
}

Lines Slice(const Lines& all, size_t from, size_t to) {
  return Lines(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to));
}

// Lines [0, k) then [s, end): a first volume cut at k before a second
// volume that begins at s.
Lines Joined(const Lines& all, size_t k, size_t s) {
  Lines joined = Slice(all, 0, k);
  joined.insert(joined.end(), all.begin() + static_cast<long>(s), all.end());
  return joined;
}

struct Export {
  const char* name;
  Lines lines;
};

// Exports of every section the readers follow: the sample set, two from
// GDAL's tests, and one of our own with tildes and long table records.
std::vector<Export> Exports() {
  const std::string data = std::string(VTFMT_SOURCE_DIR) + "/tests/data/e00/";
  return {{"roads", SampleLines(std::string(VTFMT_SOURCE_DIR) + "/samples/roads.e00")},
          {"testpoly", SampleLines(data + "testpoly.e00")},
          {"testpoint", SampleLines(data + "testpoint.e00")},
          {"realistic", e00test::RealisticExport(41, 12)}};
}

// Every odd number from 1 to `last`.
std::vector<size_t> Odd(size_t last) {
  std::vector<size_t> odd;
  for (size_t k = 1; k <= last; k += 2) odd.push_back(k);
  return odd;
}

TEST_F(E00ReadersTest, IntactSetsReadWholeWhereverTheirVolumesSplit) {
  for (const Export& set : Exports()) {
    SCOPED_TRACE(set.name);
    const Lines& all = set.lines;
    ASSERT_GT(all.size(), 100u);
    const Lines physical = e00test::Split(Write("whole.e00", all, CVtE00::E00ComprFull));
    for (size_t s = 1; s < all.size(); s += 2) {
      dir.Put("set.e00", e00test::Join(Slice(all, 0, s)));
      dir.Put("set.E01", e00test::Join(Slice(all, s, all.size())));
      for (const Reading& r : {ReadStream("set.e00"), ReadFile("set.e00")}) {
        ASSERT_EQ(r.lines, all) << s;
        ASSERT_FALSE(r.truncated) << s << r.message;
      }
    }
    for (size_t s = 1; s < physical.size(); ++s) {
      dir.Put("set.e00", e00test::Join(Slice(physical, 0, s)));
      dir.Put("set.E01", e00test::Join(Slice(physical, s, physical.size())));
      const Reading r = ReadStream("set.e00");
      ASSERT_EQ(r.lines, all) << s;
      ASSERT_EQ(r.message, "") << s;
    }
  }
}

// A first volume cut at every line end in turn, before a second volume that
// is whole: the readers fail, naming the second volume and the one before it,
// wherever the lines on the two sides of the join cannot follow each other.
// Where they can, nothing in the data tells, and the readers hand out what is
// there; the cuts listed below are those, and why:
// - 1: only the header is left before the join. Lines right after a header
//   are not checked, as files that are not coverage exports have any line
//   there.
// - a join between two whole records of the same section (or between a
//   record's header and the line that ends another record of the same
//   shape): the second volume goes on with a record that fits. The checks
//   count lines and fields, not record numbers, which exports need not keep
//   in order. testpoint's LAB records all have the same two lines, so every
//   such join there fits; roads' ARC records of three vertices end alike.
// - compressed: the join falls between the tokens of two lines of the same
//   shape, so that the line it makes decodes and fits.
TEST_F(E00ReadersTest, AVolumeCutAtALineEndFailsWhereItsSectionsShowIt) {
  struct Case {
    const char* set;
    bool compressed;
    size_t secondStart;  // the line the second volume begins with
    std::vector<size_t> found;  // cuts that go unnoticed
  };
  const Case cases[] = {
      {"roads", false, 43, {1, 4, 9, 29}},      {"roads", false, 86, {1}},
      {"testpoly", false, 50, {1, 49}},         {"testpoly", false, 100, {1}},
      {"testpoint", false, 93, Odd(91)},        {"testpoint", false, 186, {1}},
      {"realistic", false, 43, {1, 3, 17, 24, 31, 34}}, {"realistic", false, 87, {1, 83, 84, 85, 86}},
      {"roads", true, 15, {1}},                 {"roads", true, 30, {1, 14}},
      {"testpoly", true, 17, {1, 8}},           {"testpoly", true, 34, {1}},
      {"testpoint", true, 37, {1}},             {"testpoint", true, 75, {1}},
      {"realistic", true, 15, {1}},             {"realistic", true, 30, {1}},
  };
  const std::vector<Export> exports = Exports();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.set) + (c.compressed ? " compressed" : " plain") + " from " +
                 std::to_string(c.secondStart));
    const Lines* all = nullptr;
    for (const Export& e : exports)
      if (std::string(e.name) == c.set) all = &e.lines;
    ASSERT_NE(all, nullptr);
    // Physical lines: the plain lines, or those the writer makes.
    const Lines physical = c.compressed ? e00test::Split(Write("whole.e00", *all, CVtE00::E00ComprFull)) : *all;
    const size_t s = c.secondStart;
    ASSERT_LT(s, physical.size());
    dir.Put("set.E01", e00test::Join(Slice(physical, s, physical.size())));
    std::vector<size_t> unnoticed;
    for (size_t k = 1; k < s; ++k) {
      SCOPED_TRACE("cut after line " + std::to_string(k));
      dir.Put("set.e00", e00test::Join(Slice(physical, 0, k)));
      const Reading r = ReadStream("set.e00");
      const Lines joined = Joined(*all, k, s);
      Reading one;
      if (c.compressed) {
        // What the join holds, read as one file: the same lines.
        dir.Put("one.e00", e00test::Join(Joined(physical, k, s)));
        one = ReadStream("one.e00");
        EXPECT_EQ(r.lines, one.lines);
      } else {
        // Every line up to the one that cannot follow.
        ASSERT_LE(r.lines.size(), joined.size());
        EXPECT_EQ(r.lines, Slice(joined, 0, r.lines.size()));
      }
      if (r.message.empty()) {
        unnoticed.push_back(k);
        EXPECT_FALSE(r.truncated);
        if (!c.compressed) {
          EXPECT_EQ(r.lines, joined);
        }
      } else {
        EXPECT_EQ(r.message.find('\n'), std::string::npos);
        EXPECT_EQ(r.message.find(dir / "set.E01"), 0u) << r.message;
        EXPECT_NE(r.message.find("follows on from " + dir / "set.e00"), std::string::npos) << r.message;
        if (c.compressed) {
          EXPECT_FALSE(one.message.empty());
        }
      }
      if (!c.compressed) {
        // Volume by volume, the same; every line before the join comes out.
        const Reading f = ReadFile("set.e00");
        EXPECT_EQ(f.lines, r.lines);
        EXPECT_EQ(f.truncated, r.truncated) << f.message;
        // It names the next volume by the name it was asked for.
        std::string named = f.message;
        const size_t at = named.find(dir / "set.e01");
        if (at != std::string::npos) named.replace(at, (dir / "set.e01").size(), dir / "set.E01");
        EXPECT_EQ(named, r.message);
        EXPECT_GE(r.lines.size(), k);
      }
    }
    EXPECT_EQ(unnoticed, c.found);
  }
}

// A double-precision coverage: reals of 21 characters, one vertex to a
// line, the polygon box over two lines and a polygon section that ends with
// two lines.
Lines DoublePrecisionExport() {
  auto real = [](double v) { return e00test::Printf("%21.14E", v); };
  auto ints = [](std::initializer_list<long> values) {
    std::string line;
    for (long v : values) line += e00test::Int10(v);
    return line;
  };
  Lines l = {"EXP  0 /D/DOUBLE.E00", "ARC  3"};
  l.push_back(ints({1, 1, 1, 2, 0, 0, 3}));
  for (int v = 0; v < 3; ++v) l.push_back(real(4.5e5 + v) + real(-3.4e6 - v));
  l.push_back(ints({2, 2, 2, 1, 0, 0, 1}));
  l.push_back(real(1.25) + real(-2.5e-3));
  l.push_back(ints({-1, 0, 0, 0, 0, 0, 0}));
  l.push_back("CNT  3");
  l.push_back(e00test::Int10(2) + real(4.5e5) + real(3.4e6));
  l.push_back(ints({1, 2}));
  l.push_back(e00test::Int10(0) + real(4.6e5) + real(3.5e6));
  l.push_back(e00test::Int10(-1) + e00test::Int10(0) + real(0) + real(0));
  l.push_back("LAB  3");
  for (int c = 1; c <= 2; ++c) {
    l.push_back(ints({c, c + 1}) + real(4.5e5 + c) + real(3.4e6 + c));
    l.push_back(real(4.5e5) + real(3.4e6));
    l.push_back(real(4.6e5) + real(3.5e6));
  }
  l.push_back(e00test::Int10(-1) + e00test::Int10(0) + real(0) + real(0));
  l.push_back("PAL  3");
  l.push_back(e00test::Int10(3) + real(4.5e5) + real(3.4e6));
  l.push_back(real(4.6e5) + real(3.5e6));
  l.push_back(ints({1, 1, 0, -2, 2, 0}));
  l.push_back(ints({3, 1, 2}));
  l.push_back(e00test::Int10(1) + real(4.5e5) + real(3.4e6));
  l.push_back(real(4.6e5) + real(3.5e6));
  l.push_back(ints({2, 2, 1}));
  l.push_back(ints({-1, 0, 0, 0, 0, 0, 0}));
  l.push_back(real(0) + real(0));
  l.push_back("TOL  3");
  for (int t = 1; t <= 3; ++t) l.push_back(ints({t, 2}) + real(t * 0.5));
  l.push_back(ints({-1, 0, 0, 0, 0, 0, 0}));
  l.push_back("EOS");
  return l;
}

TEST_F(E00ReadersTest, DoublePrecisionSectionsAreFollowedToo) {
  const Lines all = DoublePrecisionExport();
  dir.Put("d.e00", e00test::Join(all));
  for (const Reading& r : {ReadStream("d.e00"), ReadFile("d.e00")}) {
    EXPECT_EQ(r.lines, all);
    EXPECT_EQ(r.message, "");
  }
  // One line lost anywhere shows, but for: the first section's header; a
  // line that ends a section before the next section's header (TOL is not
  // always closed, so no section must be); a whole record (the CNT record
  // without labels, TOL records); the optional second line that ends PAL.
  std::vector<size_t> unnoticed;
  for (size_t k = 1; k + 1 < all.size(); ++k) {
    dir.Put("d.e00", e00test::Join(Joined(all, k, k + 1)));
    const Reading r = ReadStream("d.e00");
    if (r.message.empty())
      unnoticed.push_back(k);
    else
      EXPECT_NE(r.message.find(dir / "d.e00 is truncated or damaged: line "), std::string::npos) << r.message;
  }
  EXPECT_EQ(unnoticed, (std::vector<size_t>{1, 8, 12, 13, 21, 31, 33, 34, 35, 36}));
}

}  // namespace
