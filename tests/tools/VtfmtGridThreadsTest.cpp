// ASCII grids of several megabytes are parsed on several threads: whatever
// the thread count, the tool and the library give the same cells, the same
// cell format and the same failure, naming the same row.
#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "access/ArrayReader.h"
#include "support/ToolRun.h"

namespace {

const char kHeader[] = "xllcorner 10\nyllcorner 20\ncellsize 2\n";

// Text of `cells` values, `perLine` to a line; value(i) gives each one.
std::string Cells(size_t cells, size_t perLine, const std::function<std::string(size_t)>& value,
                  const char* lineEnd = "\n") {
  std::string text;
  text.reserve(cells * 8);
  for (size_t i = 0; i < cells; ++i) {
    text += value(i);
    text += (i + 1) % perLine == 0 || i + 1 == cells ? lineEnd : " ";
  }
  return text;
}

std::string Grid(int columns, int rows, const std::string& cells, const std::string& noData = "") {
  return "ncols " + std::to_string(columns) + "\nnrows " + std::to_string(rows) + "\n" + kHeader +
         (noData.empty() ? "" : "NODATA_value " + noData + "\n") + cells;
}

// Small whole numbers from a fixed sequence.
std::string Whole(size_t i) { return std::to_string(static_cast<int>((i * 2654435761u) % 2001) - 1000); }
std::string Decimal(size_t i) { return Whole(i) + "." + std::to_string(i % 8 * 125); }

const int kColumns = 1000, kRows = 1200;  // about 6 MB of text
const size_t kCells = size_t(kColumns) * kRows;

struct GridCase {
  const char* name;
  std::string text;
  // What one thread gives: "pixel_format: F", or a piece of the message.
  std::string expect;
};

std::vector<GridCase> Cases() {
  std::vector<GridCase> cases;
  const auto rows = [](const std::function<std::string(size_t)>& value, const char* lineEnd = "\n") {
    return Cells(kCells, kColumns, value, lineEnd);
  };
  cases.push_back({"ints", Grid(kColumns, kRows, rows(Whole)), "pixel_format: 16"});
  cases.push_back({"singles", Grid(kColumns, kRows, rows(Decimal)), "pixel_format: 3200"});
  // Wider integers from the middle on, then a value that needs doubles on
  // the last line: every piece before it must be widened.
  cases.push_back({"widened late", Grid(kColumns, kRows, rows([](size_t i) {
                                          if (i == kCells - 2) return std::string("16777217");
                                          if (i == kCells - 1) return std::string("0.5");
                                          return i > kCells / 2 ? std::to_string(100000 + i) : Whole(i);
                                        })),
                   "pixel_format: 6400"});
  // 16777217 fits 32-bit integers but not singles, 0.5 singles but not
  // integers: together, doubles, though each piece alone fits a narrower form.
  cases.push_back({"apart in pieces", Grid(kColumns, kRows, rows([](size_t i) {
                                             if (i == 7) return std::string("16777217");
                                             if (i == kCells - 7) return std::string("0.5");
                                             return Whole(i);
                                           })),
                   "pixel_format: 6400"});
  // A -0 read while the grid is still integers, and one read after a
  // fraction, both keep their sign. Several pieces see both.
  for (const char* late : {"0.5", "0.1"}) {
    cases.push_back({late[2] == '5' ? "negative zeros, singles" : "negative zeros, doubles",
                     Grid(kColumns, kRows, rows([late](size_t i) {
                            if (i % 100003 == 5) return std::string("-0");
                            if (i == kCells / 3) return std::string(late);
                            if (i == kCells / 3 + 1)
                              return std::string(late[2] == '5' ? "1234.5" : "123456.789");
                            return Whole(i);
                          })),
                     late[2] == '5' ? "pixel_format: 3200" : "pixel_format: 6400"});
  }
  cases.push_back({"no-data",
                   Grid(kColumns, kRows, rows([](size_t i) {
                          return i % 17 == 0 ? std::string(i % 2 ? "999" : "999.00000000001") : Whole(i);
                        }),
                        "999"),
                   "pixel_format: 16"});
  cases.push_back({"no-data nan",
                   Grid(kColumns, kRows,
                        rows([](size_t i) { return i % 13 == 0 ? std::string("nan") : Decimal(i); }), "nan"),
                   "pixel_format: 3200"});
  // Rows do not follow lines: seven values to a line, or the whole grid
  // on one line (cut at white space).
  cases.push_back({"rows across lines", Grid(kColumns, kRows, Cells(kCells, 7, Whole)), "pixel_format: 16"});
  cases.push_back({"one line", Grid(kColumns, kRows, Cells(kCells, kCells, Whole)), "pixel_format: 16"});
  cases.push_back(
      {"crlf and tabs",
       Grid(kColumns, kRows, rows([](size_t i) { return i % 5 ? Decimal(i) : "\t" + Whole(i); }, "\r\n")),
       "pixel_format: 3200"});
  // Decimal commas, and runs longer than a token, which read as several.
  cases.push_back({"commas and long runs", Grid(kColumns, kRows, rows([](size_t i) {
                                                  if (i % 9973 == 1) return std::string(130, '1') + "2";
                                                  return i % 3 ? Whole(i) + ",5" : Whole(i);
                                                })),
                   "pixel_format: 6400"});
  // Two pieces' worth of windows at two threads, then widened in the last.
  cases.push_back({"several windows",
                   Grid(2 * kColumns, kRows,
                        Cells(2 * kCells, 2 * kColumns,
                              [](size_t i) {
                                return i == 2 * kCells - 1 ? std::string("0.3333333333333") : Decimal(i);
                              })),
                   "pixel_format: 6400"});
  // Faults in the first, a middle and the last piece, and behind a fault
  // in an earlier piece; the end of the text before the last cell; text
  // behind the last cell, which is not read.
  for (size_t at : {size_t(10), kCells / 2 + 3, kCells - 1}) {
    cases.push_back(
        {"bad value",
         Grid(kColumns, kRows, rows([at](size_t i) { return i == at ? std::string("12x") : Whole(i); })),
         "cannot read row " + std::to_string(at / kColumns) + ": ESRI ASCII grid"});
  }
  cases.push_back({"two bad values", Grid(kColumns, kRows, rows([](size_t i) {
                                            return i == kCells / 4   ? std::string("first")
                                                   : i == kCells - 5 ? std::string("second")
                                                                     : Whole(i);
                                          })),
                   "cannot read row " + std::to_string(kCells / 4 / kColumns) + ": ESRI ASCII grid"});
  cases.push_back({"cut short", Grid(kColumns, kRows, Cells(kCells - 1500, kColumns, Whole)),
                   "cannot read row " + std::to_string((kCells - 1500) / kColumns) + "\n"});
  cases.push_back({"text behind", Grid(kColumns, kRows, rows(Whole) + "0.5 bad -0\n" + rows(Decimal)),
                   "pixel_format: 16"});
  return cases;
}

// The tool gives the same cells, cell format and failure at every thread
// count; one thread reads as the reader always has.
TEST(VtfmtGridThreads, EveryThreadCountGivesTheSameCellsAndFailures) {
  ScratchDir dir;
  const std::string grid = dir / "g.asc";
  const std::vector<GridCase> cases = Cases();
  for (const GridCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Threads start from 4 MB of cell text.
    EXPECT_GT(c.text.size(), size_t(4) << 20);
    dir.Put("g.asc", c.text);
    const ToolResult one = RunTool(dir, "dump -oo threads=1 " + Quote(grid));
    const ToolResult oneInfo = RunTool(dir, "info -oo threads=1 " + Quote(grid));
    EXPECT_NE((oneInfo.out + oneInfo.err).find(c.expect), std::string::npos) << oneInfo.out << oneInfo.err;
    EXPECT_EQ(one.status, oneInfo.status);
    for (const char* threads : {"2", "3"}) {
      SCOPED_TRACE(threads);
      const ToolResult many = RunTool(dir, std::string("dump -oo threads=") + threads + " " + Quote(grid));
      EXPECT_EQ(many.status, one.status);
      EXPECT_EQ(many.err, one.err);
      EXPECT_EQ(many.out.size(), one.out.size());
      EXPECT_TRUE(many.out == one.out);
    }
    // A chosen cell format: the rows are parsed a window at a time as they
    // are read; 16-bit cells fail at the first value they cannot hold.
    // Every other case takes each.
    {
      const char* format = (&c - &cases[0]) % 2 == 0 ? "16" : "6400";
      SCOPED_TRACE(format);
      const std::string args = std::string(" -oo pixel_format=") + format + " " + Quote(grid);
      const ToolResult chosenOne = RunTool(dir, "dump -oo threads=1" + args);
      const ToolResult chosenTwo = RunTool(dir, "dump -oo threads=2" + args);
      EXPECT_EQ(chosenTwo.status, chosenOne.status);
      EXPECT_EQ(chosenTwo.err, chosenOne.err);
      EXPECT_TRUE(chosenTwo.out == chosenOne.out);
    }
    // All cores, the default.
    const ToolResult info = RunTool(dir, "info " + Quote(grid));
    EXPECT_EQ(info.out, oneInfo.out);
    EXPECT_EQ(info.err, oneInfo.err);
  }
}

// A conversion, and the library's reader, agree with one thread too.
TEST(VtfmtGridThreads, ConversionAndLibraryAgree) {
  ScratchDir dir;
  const std::string grid = dir / "g.asc";
  dir.Put("g.asc", Grid(kColumns, kRows, Cells(kCells, 7, [](size_t i) {
                          return i == kCells / 2 ? std::string("-0") : i == kCells - 3 ? "0.25" : Whole(i);
                        })));
  for (const char* threads : {"1", "2"}) {
    const ToolResult r = RunTool(dir, std::string("convert -oo threads=") + threads + " " + Quote(grid) +
                                          " " + Quote(dir / (std::string("out") + threads + ".tif")));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_TRUE(dir.Get("out1.tif") == dir.Get("out2.tif"));

  auto read = [&](const char* threads, std::string& failure) {
    std::vector<unsigned char> cells;
    try {
      vtfmt::ArrayReader reader(grid, "aaigrid", {{"threads", threads}});
      cells.resize(reader.RowBytes() * reader.Height());
      reader.Read(0, reader.Height(), cells.data());
    } catch (const std::exception& e) {
      failure = e.what();
    }
    return cells;
  };
  std::string failOne, failTwo;
  const std::vector<unsigned char> one = read("1", failOne);
  EXPECT_EQ(one.size(), kCells * 4);  // singles
  EXPECT_TRUE(read("2", failTwo) == one);
  EXPECT_EQ(failOne, "");
  EXPECT_EQ(failTwo, "");
  // A fault in a later piece fails the open the same way.
  std::string text = dir.Get("g.asc");
  text.replace(text.size() - 100, 3, "z z");
  dir.Put("g.asc", text);
  read("1", failOne);
  read("2", failTwo);
  EXPECT_NE(failOne.find("is not a number"), std::string::npos) << failOne;
  EXPECT_EQ(failTwo, failOne);

  // A thread count the option does not take.
  const ToolResult r = RunTool(dir, "info -oo threads=0 " + Quote(grid));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("threads must be a whole number from 1 to 1024, not 0"), std::string::npos) << r.err;
}

}  // namespace
