#include "vector/e00/E00Sections.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "vector/e00/E00Printed.h"
#include "vector/e00/E00Reader.h"

namespace e00 {

namespace {

using printed::EightDigits;
using printed::IsPrintedLine;
using printed::Load8;

constexpr int kIntWidth = 10;
// The line that ends a section of numbered records.
constexpr const char kRecordsEnd[] = "        -1         0";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\x1a'; }

// The length of the line without trailing blanks; `n` is its whole length.
size_t TrimmedLength(const char* line, size_t n) {
  while (n > 0 && (IsBlank(line[n - 1]) || line[n - 1] == '\r')) --n;
  return n;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An integer right-aligned in `width` characters.
bool IsIntField(const char* p, int width) {
  int i = 0;
  while (i < width && p[i] == ' ') ++i;
  if (i < width && p[i] == '-') ++i;
  if (i == width) return false;
  for (; i < width; ++i)
    if (!IsDigit(p[i])) return false;
  return true;
}

// A real right-aligned in `width` characters: digits, a point or an exponent.
bool IsRealField(const char* p, int width) {
  int i = 0;
  while (i < width && p[i] == ' ') ++i;
  if (i < width && p[i] == '-') ++i;
  bool digit = false, mark = false;
  for (; i < width; ++i) {
    const char c = p[i];
    if (IsDigit(c)) {
      digit = true;
    } else if (c == '.') {
      mark = true;
    } else if (c == 'E' || c == 'e' || c == 'D') {
      mark = true;
      if (i + 1 < width && (p[i + 1] == '+' || p[i + 1] == '-')) ++i;
    } else {
      return false;
    }
  }
  return digit && mark;
}

// The quick real test for a width known when compiling: the checks on
// fixed places fold to constants.
template <int kWidth>
inline bool PrintedReal(const char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr int kFraction = kWidth - 7;  // digits after the point
  static_assert(kFraction >= 7, "at least seven digits after the point");
  if ((p[0] != ' ' && p[0] != '-') || !IsDigit(p[1]) || p[2] != '.' || p[kWidth - 4] != 'E' ||
      (p[kWidth - 3] != '+' && p[kWidth - 3] != '-') || !IsDigit(p[kWidth - 2]) || !IsDigit(p[kWidth - 1]))
    return false;
  const char* f = p + 3;
  int i = 0;
  for (; i + 8 <= kFraction; i += 8)
    if (!EightDigits(Load8(f + i))) return false;
  if (i < kFraction) {
    // The last eight characters of the fraction; with only seven, the
    // point before them (the lowest byte) counts as a digit.
    uint64_t w = Load8(f + kFraction - 8);
    if (kFraction < 8) w = (w & ~uint64_t{0xFF}) | '0';
    if (!EightDigits(w)) return false;
  }
  return true;
#else
  (void)p;
  return false;
#endif
}

// A real field of `width`: the quick test for the widths that sections
// print, then the full scan.
inline bool RealField(const char* p, int width) {
  if (width == 14 && PrintedReal<14>(p)) return true;
  if (width == 21 && PrintedReal<21>(p)) return true;
  return IsRealField(p, width);
}

// An integer right-aligned in the ten characters from p, as IsIntField
// has it, a word at a time: the leading blanks are found in places 0 to 7,
// and the digits from there to place 9 are checked in places 2 to 9, the
// places before them taken as "0".
inline bool IntField10(const char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const uint64_t notBlank = Load8(p) ^ 0x2020202020202020ull;
  int i = notBlank ? __builtin_ctzll(notBlank) / 8 : 8;
  while (i < kIntWidth && p[i] == ' ') ++i;
  if (i < kIntWidth && p[i] == '-') ++i;
  if (i == kIntWidth) return false;
  if (i < 2) {
    // Nine or ten characters of digits.
    if (!IsDigit(p[1]) || (i == 0 && !IsDigit(p[0]))) return false;
    i = 2;
  }
  const uint64_t before = (uint64_t{1} << (8 * (i - 2))) - 1;  // places 2 to i - 1
  return EightDigits((Load8(p + 2) & ~before) | (0x3030303030303030ull & before));
#else
  return IsIntField(p, kIntWidth);
#endif
}

// A line of `reals` reals of `width`, the quick way for the lines that
// sections have most: four single-precision or two double-precision
// coordinates.
inline bool IsPrintedRealLine(const char* line, size_t length, int reals, int width) {
  if (reals == 4 && width == 14 && length == 56) return IsPrintedLine<4, 14>(line);
  if (reals == 2 && width == 21 && length == 42) return IsPrintedLine<2, 21>(line);
  return false;
}

}  // namespace

namespace fields {

bool AreReals(const char* line, size_t length, int count, int width, bool quick) {
  if (length != static_cast<size_t>(count * width)) return false;
  if (quick && IsPrintedRealLine(line, length, count, width)) return true;
  for (int i = 0; i < count; ++i)
    if (!(quick ? RealField(line + i * width, width) : IsRealField(line + i * width, width))) return false;
  return true;
}

bool IsInt(const char* p, int width) { return width == kIntWidth ? IntField10(p) : IsIntField(p, width); }

bool ScanInt(const char* p, int width) { return IsIntField(p, width); }

bool IsPrintedReal(const char* p, int width) {
  return width == 14 ? PrintedReal<14>(p) : width == 21 ? PrintedReal<21>(p) : false;
}

bool ScanReal(const char* p, int width) { return IsRealField(p, width); }

bool IsReal(const char* p, int width) { return RealField(p, width); }

}  // namespace fields

namespace {

long FieldValue(const char* p, int width) {
  long value = 0;
  bool negative = false;
  for (int i = 0; i < width; ++i) {
    if (p[i] == '-') negative = true;
    if (IsDigit(p[i])) value = value * 10 + (p[i] - '0');
  }
  return negative ? -value : value;
}

// `ints` integers followed by `reals` reals of `realWidth`, and nothing more.
bool HasFields(const char* line, size_t length, int ints, int reals, int realWidth) {
  if (length != static_cast<size_t>(ints * kIntWidth + reals * realWidth)) return false;
  if (ints == 0 && IsPrintedRealLine(line, length, reals, realWidth)) return true;
  for (int i = 0; i < ints; ++i)
    if (!IntField10(line + i * kIntWidth)) return false;
  for (int i = 0; i < reals; ++i)
    if (!RealField(line + ints * kIntWidth + i * realWidth, realWidth)) return false;
  return true;
}

// Only numbers, blanks and their signs: a line of record data.
bool LooksNumeric(const char* line, size_t length) {
  bool digit = false;
  for (size_t i = 0; i < length; ++i) {
    const char c = line[i];
    if (IsDigit(c))
      digit = true;
    else if (c != ' ' && c != '-' && c != '+' && c != '.' && c != 'E')
      return false;
  }
  return digit;
}

// Three capitals or digits, two blanks and a digit: the header of a section,
// known to the checker or not.
bool IsSectionHeader(const char* line, size_t length) {
  if (length < 6 || line[3] != ' ' || line[4] != ' ' || !IsDigit(line[5])) return false;
  for (int i = 0; i < 3; ++i)
    if (!IsDigit(line[i]) && (line[i] < 'A' || line[i] > 'Z')) return false;
  return true;
}

bool StartsWith(const char* line, const char* prefix) { return std::strncmp(line, prefix, std::strlen(prefix)) == 0; }

// The line is `word` with nothing after it but blanks.
bool IsWord(const char* line, size_t length, const char* word) {
  const size_t n = std::strlen(word);
  return length == n && std::strncmp(line, word, n) == 0;
}

struct SectionName {
  const char* name;
  int kind;  // SectionCheck::Kind, as a number
  const char* closing;
};

}  // namespace

void SectionCheck::Restart() {
  m_mode = Mode::kStart;
  m_kind = Kind::kNone;
  m_section.clear();
  m_lineNo = 0;
  m_pendingTail = false;
  m_why.clear();
}

void SectionCheck::Resync() {
  Restart();
  m_mode = Mode::kSkip;
  m_lineNo = -1;  // the line numbers are no longer known
}

bool SectionCheck::Fail(const std::string& why) {
  m_why = m_lineNo > 0 ? "line " + std::to_string(m_lineNo) + " of the set: " + why : why;
  // Checking goes on from the next section header, should the caller read on.
  m_mode = Mode::kSkip;
  return false;
}

// A section header: three letters or digits, two blanks and the precision
// (2 single, 3 double), nothing after it. Starts the section if it is one
// the checker knows.
bool SectionCheck::Enter(const char* line, size_t length) {
  static const SectionName kKnown[] = {
      {"ARC", static_cast<int>(Kind::kArc), nullptr},   {"CNT", static_cast<int>(Kind::kCnt), nullptr},
      {"LAB", static_cast<int>(Kind::kLab), nullptr},   {"PAL", static_cast<int>(Kind::kPal), nullptr},
      {"TOL", static_cast<int>(Kind::kTol), nullptr},   {"TXT", static_cast<int>(Kind::kTxt), kRecordsEnd},
      {"PRJ", static_cast<int>(Kind::kPrj), "EOP"},     {"SIN", static_cast<int>(Kind::kSin), "EOX"},
      {"LOG", static_cast<int>(Kind::kLog), "EOL"},     {"TX6", static_cast<int>(Kind::kGroup), "JABBERWOCKY"},
      {"TX7", static_cast<int>(Kind::kGroup), "JABBERWOCKY"}, {"RXP", static_cast<int>(Kind::kGroup), "JABBERWOCKY"},
      {"RPL", static_cast<int>(Kind::kGroup), "JABBERWOCKY"}, {"IFO", static_cast<int>(Kind::kTable), nullptr},
  };
  if (length != 6 || line[3] != ' ' || line[4] != ' ' || (line[5] != '2' && line[5] != '3')) return false;
  for (const SectionName& s : kKnown) {
    if (std::strncmp(line, s.name, 3) != 0) continue;
    m_kind = static_cast<Kind>(s.kind);
    m_double = line[5] == '3';
    m_section = s.name;
    m_record = 0;
    m_pendingTail = false;
    if (s.closing) {
      m_closing = s.closing;
      m_mode = Mode::kText;
    } else if (m_kind == Kind::kTable) {
      m_mode = Mode::kTable;
      m_part = TablePart::kHeader;
      m_table.clear();
    } else {
      m_mode = Mode::kRecords;
      m_run = m_runCount = 0;
    }
    return true;
  }
  return false;
}

bool SectionCheck::Take(const char* line) { return Take(line, std::strlen(line)); }

bool SectionCheck::Take(const char* line, size_t wholeLength) {
  if (m_lineNo >= 0) ++m_lineNo;
  // Most lines of an export are coordinates in their printed shape, which
  // end in a digit: taken here in one step, as TakeRecordLine would.
  if (m_mode == Mode::kRecords && m_run < m_runCount && m_runs[m_run].reals &&
      IsPrintedRealLine(line, wholeLength, m_runs[m_run].fields, RealWidth())) {
    EndRunLine();
    return true;
  }
  const size_t length = TrimmedLength(line, wholeLength);
  switch (m_mode) {
    case Mode::kStart:
      m_mode = StartsWith(line, "EXP") ? Mode::kTop : Mode::kSkip;
      return true;
    case Mode::kEnded:
      if (length == 0) return true;
      // Another export may follow, in a file of its own.
      m_section.clear();
      m_mode = StartsWith(line, "EXP") ? Mode::kTop : Mode::kSkip;
      return true;
    case Mode::kSkip:
      if (IsEndOfExport(line))
        m_mode = Mode::kEnded;
      else
        Enter(line, length);
      return true;
    case Mode::kTop:
      return TakeTop(line, length);
    case Mode::kText: {
      const bool closing = m_kind == Kind::kTxt ? StartsWith(line, kRecordsEnd) : IsWord(line, length, m_closing.c_str());
      if (closing) {
        m_mode = Mode::kTop;
        return true;
      }
      // Projections, the empty SIN section and logs hold neither section
      // headers nor the closing line of the export; text, groups and tables
      // may hold any line.
      if (m_kind == Kind::kPrj || m_kind == Kind::kSin || m_kind == Kind::kLog) {
        const std::string section = m_section;
        if (IsEndOfExport(line))
          return Fail("the export ends inside its " + section + " section, which has no " + m_closing + " line.");
        if (Enter(line, length))
          return Fail("a " + m_section + " section begins inside the " + section + " section, before its " +
                      m_closing + " line.");
      }
      return true;
    }
    case Mode::kRecords:
      return m_run < m_runCount ? TakeRecordLine(line, length) : TakeRecordStart(line, length);
    case Mode::kTable:
      return TakeTable(line, length);
  }
  return true;
}

bool SectionCheck::TakeTop(const char* line, size_t length) {
  const bool tail = m_pendingTail;
  m_pendingTail = false;
  if (length == 0) return true;
  if (IsEndOfExport(line)) {
    m_mode = Mode::kEnded;
    return true;
  }
  if (Enter(line, length)) return true;
  // Lines right after the header prove nothing; but a section that ended
  // leaves nothing but another section, or the end, to follow it.
  if (!m_section.empty()) {
    // A double-precision polygon section ends with two lines.
    if (tail && LooksNumeric(line, length)) return true;
    if (!IsSectionHeader(line, length))
      return Fail("this line is neither a section header nor EOS, after the " + m_section + " section ended.");
  }
  // A section the checker does not know: passed over.
  m_mode = Mode::kSkip;
  return true;
}

bool SectionCheck::TakeRecordStart(const char* line, size_t length) {
  if (StartsWith(line, kRecordsEnd)) {
    m_pendingTail = m_double && m_kind == Kind::kPal;
    m_mode = Mode::kTop;
    return true;
  }
  // A section header or the end of the export after a whole record ends the
  // section too: not every writer closes TOL with its own line.
  if (IsEndOfExport(line)) {
    m_mode = Mode::kEnded;
    return true;
  }
  if (Enter(line, length)) return true;

  const int rw = RealWidth();
  m_run = m_runCount = 0;
  long count = 0;
  bool ok = false;
  switch (m_kind) {
    case Kind::kArc:
      // Number, id, from and to node, left and right polygon, vertices.
      ok = HasFields(line, length, 7, 0, rw);
      if (!ok) break;
      count = FieldValue(line + 6 * kIntWidth, kIntWidth);
      if (m_double) {
        m_runs[m_runCount++] = {count, 2, true};
      } else {
        m_runs[m_runCount++] = {count / 2, 4, true};
        if (count % 2) m_runs[m_runCount++] = {1, 2, true};
      }
      break;
    case Kind::kCnt:
      // Labels, centroid; then the label ids, eight to a line.
      ok = HasFields(line, length, 1, 2, rw);
      if (!ok) break;
      count = FieldValue(line, kIntWidth);
      m_runs[m_runCount++] = {count / 8, 8, false};
      if (count % 8) m_runs[m_runCount++] = {1, static_cast<int>(count % 8), false};
      break;
    case Kind::kLab:
      // Id, polygon, point; then the two corners of the label's box.
      ok = HasFields(line, length, 2, 2, rw);
      count = 2;
      if (m_double)
        m_runs[m_runCount++] = {2, 2, true};
      else
        m_runs[m_runCount++] = {1, 4, true};
      break;
    case Kind::kPal:
      // Arcs and box (split over two lines in double precision); then the
      // arcs as number, node and polygon, two to a line.
      ok = HasFields(line, length, 1, m_double ? 2 : 4, rw);
      if (!ok) break;
      count = FieldValue(line, kIntWidth);
      if (m_double) m_runs[m_runCount++] = {1, 2, true};
      m_runs[m_runCount++] = {count / 2, 6, false};
      if (count % 2) m_runs[m_runCount++] = {1, 3, false};
      break;
    case Kind::kTol:
      ok = HasFields(line, length, 2, 1, rw);
      break;
    default:
      break;
  }
  if (!ok)
    return Fail("this line neither begins a record of the " + m_section + " section nor ends it (after record " +
                std::to_string(m_record) + ").");
  ++m_record;
  if (count < 0)
    return Fail(m_section + " record " + std::to_string(m_record) + " announces " + std::to_string(count) +
                " items.");
  m_announced = count;
  // Runs of no lines are done already.
  while (m_run < m_runCount && m_runs[m_run].count == 0) ++m_run;
  return true;
}

bool SectionCheck::TakeRecordLine(const char* line, size_t length) {
  Run& run = m_runs[m_run];
  const bool ok = run.reals ? HasFields(line, length, 0, run.fields, RealWidth())
                            : HasFields(line, length, run.fields, 0, RealWidth());
  if (!ok) {
    const char* what = m_kind == Kind::kArc   ? " vertices"
                       : m_kind == Kind::kCnt ? " labels"
                       : m_kind == Kind::kPal ? " arcs"
                                              : " corners";
    std::string why = m_section + " record " + std::to_string(m_record) + " announces " +
                      std::to_string(m_announced) + what + ", but this line does not hold the next " +
                      std::to_string(run.fields) + (run.reals ? " coordinates" : " numbers") + " of them";
    if (IsEndOfExport(line))
      why += ": the export ends inside it.";
    else if (StartsWith(line, kRecordsEnd) || length == 6)
      why += ": the section ends inside it.";
    else
      why += ".";
    return Fail(why);
  }
  EndRunLine();
  return true;
}

void SectionCheck::EndRunLine() {
  if (--m_runs[m_run].count == 0) {
    ++m_run;
    while (m_run < m_runCount && m_runs[m_run].count == 0) ++m_run;
  }
}

bool SectionCheck::TakeTable(const char* line, size_t length) {
  switch (m_part) {
    case TablePart::kHeader: {
      if (IsWord(line, length, "EOI")) {
        m_mode = Mode::kTop;
        return true;
      }
      // An IFO section without tables may end with the export.
      if (m_table.empty() && IsEndOfExport(line)) {
        m_mode = Mode::kEnded;
        return true;
      }
      // Name (with letters), an optional external flag, then four numbers:
      // fields, items (fields and deleted ones), record length, records.
      std::vector<std::string> words;
      for (size_t i = 0; i < length;) {
        while (i < length && line[i] == ' ') ++i;
        const size_t start = i;
        while (i < length && line[i] != ' ') ++i;
        if (i > start) words.emplace_back(line + start, i - start);
      }
      bool ok = words.size() >= 5;
      for (size_t w = words.size() >= 4 ? words.size() - 4 : 0; ok && w < words.size(); ++w)
        ok = IsIntField(words[w].c_str(), static_cast<int>(words[w].size()));
      bool letter = false;
      if (ok)
        for (char c : words[0]) letter = letter || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      if (!ok || !letter)
        return Fail("this line is neither the header of an INFO table nor EOI" +
                    (m_table.empty() ? std::string(".") : ", after table " + m_table + "."));
      m_table = words[0];
      const size_t n = words.size();
      m_fieldsLeft = std::atol(words[n - 3].c_str());
      m_records = m_recordsLeft = std::atol(words[n - 1].c_str());
      if (m_fieldsLeft < 0 || m_recordsLeft < 0)
        return Fail("table " + m_table + " announces a negative count.");
      m_recordWidth = 0;
      m_widthKnown = true;
      m_part = TablePart::kFields;
      if (m_fieldsLeft == 0) StartRecords();
      return true;
    }
    case TablePart::kFields: {
      if (length < 69)
        return Fail("table " + m_table + " announces " + std::to_string(m_fieldsLeft) +
                    " more fields, but this line is not the definition of one.");
      // Deleted items (index -1) take no room in the records. The width in
      // the export follows from the type and the stored size.
      if (FieldValue(line + 65, 4) > 0) {
        const long size = FieldValue(line + 16, 3);
        const long type = FieldValue(line + 34, 3) / 10;
        long width = -1;
        if (type == 1 || type == 2 || type == 3)
          width = size;
        else if (type == 4)
          width = 14;
        else if (type == 5)
          width = size == 4 ? 11 : size == 2 ? 6 : -1;
        else if (type == 6)
          width = size == 4 ? 14 : size == 8 ? 24 : -1;
        if (width < 0)
          m_widthKnown = false;
        else
          m_recordWidth += width;
      }
      if (--m_fieldsLeft == 0) StartRecords();
      return true;
    }
    case TablePart::kRecords:
      if (length > 80)
        return Fail("record " + std::to_string(m_records - m_recordsLeft + 1) + " of table " + m_table +
                    " has a line of " + std::to_string(length) + " characters, more than 80.");
      if (++m_lineInRecord == m_linesPerRecord) {
        m_lineInRecord = 0;
        if (--m_recordsLeft == 0) m_part = TablePart::kHeader;
      }
      return true;
  }
  return true;
}

void SectionCheck::StartRecords() {
  if (!m_widthKnown) {
    // A field of a type whose width is not known: the records cannot be
    // counted, only the end of the tables found.
    m_mode = Mode::kText;
    m_closing = "EOI";
    return;
  }
  m_linesPerRecord = (m_recordWidth + 79) / 80;
  m_lineInRecord = 0;
  m_part = m_linesPerRecord == 0 || m_recordsLeft == 0 ? TablePart::kHeader : TablePart::kRecords;
}

bool SectionCheck::Finish() {
  // The closing line of a section of text taken as its text.
  if (m_mode == Mode::kText)
    return Fail("the export ends inside its " + m_section + " section, which has no " + m_closing + " line.");
  if (m_mode == Mode::kTable && m_part == TablePart::kHeader)
    return Fail("the export ends inside its IFO section, after table " + m_table + " and before EOI.");
  if (m_mode == Mode::kTable && m_part == TablePart::kRecords)
    return Fail("the export ends inside table " + m_table + ", which announces " + std::to_string(m_records) +
                " records, in record " + std::to_string(m_records - m_recordsLeft + 1) + ".");
  if (m_mode == Mode::kTable && m_part == TablePart::kFields)
    return Fail("the export ends inside the field definitions of table " + m_table + ".");
  return true;
}

}  // namespace e00
