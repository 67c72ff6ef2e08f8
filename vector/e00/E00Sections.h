// Follows the plain lines of an E00 export through its sections and tells
// when a line cannot follow the ones before it: where a volume was cut short
// and the next volume goes on, the lines on both sides of the join rarely fit
// together.
//
// Checked closely: ARC, CNT, LAB, PAL and TOL, whose records are fixed-width
// fields (integers of 10 characters, reals of 14 in single and 21 in double
// precision) and announce how many lines follow them (vertices, label ids,
// arcs); and the INFO tables of IFO, whose headers announce their fields and
// records, each record taking as many lines of up to 80 characters as its
// fields' width needs. Sections of free text (PRJ, SIN, LOG, TXT, and the
// TX6, TX7, RXP and RPL groups) are followed only to their closing line.
// Anything else is passed over until the next section header, so that lines
// the checker does not know are never refused.
#pragma once

#include <cstdint>
#include <string>

namespace e00 {

// The fixed-width fields of the sections' records.
namespace fields {
// The `width` characters from p are a real: right-aligned, an optional
// "-", digits with a point or an exponent ("E", "e" or "D", optionally
// signed).
bool IsReal(const char* p, int width);
// The `width` characters from p are an integer: right-aligned, an optional
// "-" and at least one digit. Ten characters, the width of the records'
// integers, are checked by a quicker path.
bool IsInt(const char* p, int width);
// IsInt's scan, one character at a time.
bool ScanInt(const char* p, int width);
// IsReal's full scan, one character at a time.
bool ScanReal(const char* p, int width);
// The quick test that IsReal tries first: the shape in which reals are
// printed (%14.7E, %21.14E): a blank or "-", a digit, the point, seven or
// fourteen digits, "E", a sign and two digits. Never true where ScanReal is
// false; false for other widths.
bool IsPrintedReal(const char* p, int width);
// The `length` characters of `line` are `count` reals of `width`, and
// nothing more; `quick` tries the quick tests first, as the checker does.
bool AreReals(const char* line, size_t length, int count, int width, bool quick);
}  // namespace fields

class SectionCheck {
 public:
  // The next line is the first of a set (its header) or of a file.
  void Restart();
  // The next line is somewhere in the middle of a set (after a seek): wait
  // for a section header.
  void Resync();
  // Takes the next logical line. False when it cannot follow the lines
  // before it; Why() then says why.
  bool Take(const char* line);
  // The same, for a line whose length (strlen) the caller knows.
  bool Take(const char* line, size_t wholeLength);
  // The data ended after the export's EOS line: false when that line came
  // inside a table's records, or a record of a section, that the lines
  // before it announced. Why() then says why.
  bool Finish();
  // The reason of the last refusal, with the line's number in the set.
  const std::string& Why() const { return m_why; }

 private:
  enum class Mode { kStart, kTop, kSkip, kText, kRecords, kTable, kEnded };
  enum class TablePart { kHeader, kFields, kRecords };
  enum class Kind { kNone, kArc, kCnt, kLab, kPal, kTol, kTxt, kPrj, kSin, kLog, kGroup, kTable };
  // A run of `count` lines of `fields` fields each, all integers or all reals.
  struct Run {
    int64_t count;
    int fields;
    bool reals;
  };

  bool TakeTop(const char* line, size_t length);
  bool TakeRecordStart(const char* line, size_t length);
  bool TakeRecordLine(const char* line, size_t length);
  // A line of the current run was taken: on to the next run when it ends.
  void EndRunLine();
  bool TakeTable(const char* line, size_t length);
  // After a table's field definitions: its records come next.
  void StartRecords();
  // `length`: the line's length without trailing blanks.
  bool Enter(const char* line, size_t length);
  bool Fail(const std::string& why);
  int RealWidth() const { return m_double ? 21 : 14; }

  Mode m_mode = Mode::kStart;
  Kind m_kind = Kind::kNone;
  bool m_double = false;
  std::string m_section;  // name of the section being read
  std::string m_closing;  // the line that ends a section of free text
  int64_t m_lineNo = 0;   // lines taken since Restart
  int64_t m_record = 0;   // records begun in the section
  int64_t m_announced = 0;
  Run m_runs[3] = {};
  int m_run = 0, m_runCount = 0;
  bool m_pendingTail = false;  // a double-precision polygon section's end has a second line
  // The INFO table being read.
  TablePart m_part = TablePart::kHeader;
  std::string m_table;
  int64_t m_fieldsLeft = 0;   // definition lines still to come
  int64_t m_recordWidth = 0;  // characters of a record, over all its lines
  bool m_widthKnown = true;   // every field's type gives its width
  int64_t m_recordsLeft = 0, m_records = 0;
  int64_t m_linesPerRecord = 0, m_lineInRecord = 0;
  std::string m_why;
};

}  // namespace e00
