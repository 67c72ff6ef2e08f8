// E00 content for the tests: coverage-like exports of realistic shape
// (integer and %14.7E fields, runs of blanks, tildes, exponents, lines of
// exactly 80 characters), and helpers to write, read and compare them.
#pragma once

#include "support/ToolRun.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace e00test {

using Lines = std::vector<std::string>;

inline std::string Printf(const char* fmt, double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}
inline std::string Int10(long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10ld", v);
  return buf;
}

// A plain export of one coverage: arcs, labels, tolerances, a projection,
// a log with free text, and INFO tables whose records are cut into lines of
// 80 characters. `arcs` sets the size.
inline Lines RealisticExport(unsigned seed, int arcs, const std::string& name = "ROADS") {
  std::mt19937 rng(seed);
  auto uniform = [&rng](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto integer = [&rng](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  auto coord = [&](double lo, double hi) { return Printf("%14.7E", uniform(lo, hi)); };
  Lines l;
  l.push_back("EXP  0 /USERS/GIS/DATA/" + name + "/" + name + ".E00");
  l.push_back("ARC  2");
  for (int a = 1; a <= arcs; ++a) {
    const int points = static_cast<int>(integer(2, 9));
    std::string head;
    for (long v :
         {long(a), long(a), integer(1, arcs), integer(1, arcs), integer(0, 40), integer(0, 40), long(points)})
      head += Int10(v);
    l.push_back(head);
    for (int p = 0; p < points; p += 2) {
      std::string pts = coord(4.5e5, 4.9e5) + coord(-2.0e-3, 3.5e6);
      if (p + 1 < points) pts += coord(-9.9e4, 9.9e4) + coord(1e-7, 9.9e-1);
      l.push_back(pts);
    }
  }
  l.push_back("        -1         0         0         0         0         0         0");
  l.push_back("CNT  2");
  for (int c = 1; c <= arcs / 4 + 1; ++c) {
    // One label in the polygon, and its id.
    l.push_back(Int10(1) + coord(4.5e5, 4.9e5) + coord(3.4e6, 3.5e6));
    l.push_back(Int10(c));
  }
  l.push_back(Int10(-1) + Int10(0) + coord(0, 0) + coord(0, 0));
  l.push_back("LAB  2");
  for (int c = 1; c <= arcs / 3 + 1; ++c) {
    l.push_back(Int10(c) + Int10(c + 1) + coord(4.5e5, 4.9e5) + coord(3.4e6, 3.5e6));
    l.push_back(coord(4.5e5, 4.9e5) + coord(3.4e6, 3.5e6) + coord(4.5e5, 4.9e5) + coord(3.4e6, 3.5e6));
  }
  l.push_back("        -1         0 0.0000000E+00 0.0000000E+00");
  l.push_back("LOG  2");
  l.push_back("1998 4 2 1018 12    0    0    0 Arc:  GENERATE ROADS~");
  l.push_back("1998 4 2 1019   0    0    0    0 Arc:  BUILD ROADS LINE  ~~ path ~/tmp/x");
  l.push_back("~");
  l.push_back("EOL");
  l.push_back("PRJ  2");
  l.push_back("Projection    UTM");
  l.push_back("Zone          17");
  l.push_back("Datum         NAD83");
  l.push_back("Units         METERS");
  l.push_back("Spheroid      GRS1980");
  l.push_back("Parameters    ");
  l.push_back("~");
  l.push_back("EOP");
  l.push_back("TOL  2");
  for (int t = 1; t <= 10; ++t) l.push_back(Int10(t) + Int10(t % 2) + coord(0, 10));
  l.push_back("SIN  2");
  l.push_back("EOX");
  l.push_back("IFO  2");
  l.push_back(name + ".AAT                   XX   8   8  54" + Int10(arcs));
  // Binary integers (11 characters in the export), a binary real (14) and
  // a character item of 30: records of 110 characters.
  for (const char* item : {"FNODE#", "TNODE#", "LPOLY#", "RPOLY#", "LENGTH", "ROADS#", "ROADS-ID", "NAME"}) {
    const std::string text = item;
    const char* def = text == "LENGTH" ? "  4-1   14-1  12 3 60-1  -1  -1-1                   1-"
                      : text == "NAME" ? " 30-1   14-1  30-1 20-1  -1  -1-1                   1-"
                                       : "  4-1   14-1   5-1 50-1  -1  -1-1                   1-";
    l.push_back(text + std::string(16 - text.size(), ' ') + def);
  }
  for (int a = 1; a <= arcs; ++a) {
    // One record of 110 characters, cut after 80.
    std::string rec;
    for (int f = 0; f < 4; ++f) rec += " " + Int10(integer(0, 99999));
    rec += coord(0, 5000) + " " + Int10(a) + " " + Int10(a);
    rec += std::string(24, ' ') + "ROAD~" + std::to_string(a % 10);
    l.push_back(rec.substr(0, 80));
    l.push_back(rec.substr(80));
  }
  l.push_back("EOI");
  l.push_back("EOS");
  return l;
}

// Lines that the compressed format makes hard: numbers next to the codes,
// long digit runs, exponents of every kind, runs of blanks of every length.
inline Lines EdgeLines() {
  Lines l = {"EXP  0 /TMP/EDGE.E00"};
  for (int n = 1; n <= 80; n += 7) l.push_back("A" + std::string(static_cast<size_t>(n), ' ') + "B");
  for (const char* s : {"12345678",
                        "12",
                        "7",
                        "1.2345E+02",
                        "-1.0E-05",
                        "0.0000000E+00",
                        "99999999999999999999",
                        "9.9999999E+99",
                        "1.E+05",
                        "123.",
                        "12.3",
                        "12345678901234.5",
                        "123456789012345.6",
                        "1.2.3.4",
                        "1E+055",
                        "5E-07 X",
                        "1E+5",
                        "3.14~15",
                        "~~~",
                        "~ ~!",
                        "42 ~",
                        "10-20-30",
                        "1234X",
                        "12 34 56",
                        "A~B~C~~",
                        "   ~   ",
                        "0",
                        "00",
                        "000",
                        "0.5",
                        "E+1E-10 000",
                        "1999-12-31"})
    l.push_back(s);
  l.push_back(std::string(80, '9'));
  l.push_back(std::string(78, ' ') + "1");
  l.push_back(std::string(80, '~').substr(0, 40));
  l.push_back("");
  l.push_back("EOS");
  return l;
}

// Lines that e00conv itself does not carry through full compression: a
// number before "}", a token exactly as long as the text before a non-blank
// character, a point after the twelfth digit.
inline Lines E00convLossyLines() { return {"123456}X", "E+1E+10.000", "5E-07X", "123456789012.34"}; }

inline std::string Join(const Lines& lines) {
  std::string s;
  for (const auto& line : lines) s += line + "\n";
  return s;
}

inline Lines Split(const std::string& text) {
  Lines lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// Runs `e00conv IN OUT LEVEL`; true on exit status 0.
inline bool E00conv(const std::string& in, const std::string& out, const char* level) {
  const std::string cmd = "e00conv " + Quote(in) + " " + Quote(out) + " " + level + " >/dev/null 2>&1";
  const int raw = std::system(cmd.c_str());
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

}  // namespace e00test
