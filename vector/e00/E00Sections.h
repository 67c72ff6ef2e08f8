// Follows the plain lines of an E00 export through its sections and tells
// when a line cannot follow the ones before it: where a volume was cut short
// and the next volume goes on, the lines on both sides of the join rarely fit
// together.
//
// Checked closely: ARC, CNT, LAB, PAL and TOL, whose records are fixed-width
// fields (integers of 10 characters, reals of 14 in single and 21 in double
// precision) and announce how many lines follow them (vertices, label ids,
// arcs). Sections of free text (PRJ, SIN, LOG, TXT, and the TX6, TX7, RXP,
// RPL and IFO groups) are followed only to their closing line: the export
// must not end inside them. Anything else is passed over until the next
// section header, so that lines the checker does not know are never refused.
#pragma once

#include <cstdint>
#include <string>

namespace e00 {

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
  // The reason of the last refusal, with the line's number in the set.
  const std::string& Why() const { return m_why; }

 private:
  enum class Mode { kStart, kTop, kSkip, kText, kRecords, kEnded };
  enum class Kind { kNone, kArc, kCnt, kLab, kPal, kTol, kRpl, kTxt, kPrj, kSin, kLog, kGroup, kTable };
  // A run of `count` lines of `fields` fields each, all integers or all reals.
  struct Run {
    int64_t count;
    int fields;
    bool reals;
  };

  bool TakeTop(const char* line, size_t length);
  bool TakeRecordStart(const char* line, size_t length);
  bool TakeRecordLine(const char* line, size_t length);
  bool Enter(const char* line);
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
  std::string m_why;
};

}  // namespace e00
