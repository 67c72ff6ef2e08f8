// NSDTF grid part of CImgFileGrid: the whole grid is read into, or written
// from, the array members, through a file the user picks in a file dialog.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/mfc/CFileDialog.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileGrid.h"

namespace {

enum NsdtfCode : long {
  kCancelled = -1,
  kCharGrid = 1,
  kOtherType = 2,
  kBadCompress = 3,
  kTooManyEntries = 4,
};

const int kEntriesPerLine = 10;

// The file the user picks in the open form of the dialog, or false when
// the dialog is cancelled. The stand-in dialog does not change the working
// directory, so the whole path is used rather than the name alone.
bool AskForFile(CString& path) {
  CFileDialog dialog(TRUE, "", "*.txt", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "*.txt");
  if (dialog.DoModal() != IDOK) return false;
  path = dialog.GetPathName();
  return !path.IsEmpty();
}

// The text after the first ':' of a line, leading white space trimmed first.
CString ValueOf(CString line) {
  line.TrimLeft();
  return line.Mid(line.Find(':') + 1);
}

// A decimal with `decimals` places, without the "0" before the point of a
// number below 1 (".2500000"), and with its sign.
CString Decimal(double v, int decimals) {
  CString text = vtnum::Fixed(v, decimals).c_str();
  if (text.Left(2) == "0.")
    text.Delete(0);
  else if (text.Left(3) == "-0.")
    text.Delete(1);
  return text;
}

bool Blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Splits a data line into its space-separated entries, in one pass.
std::vector<CString> Entries(const CString& line) {
  std::vector<CString> entries;
  const char* p = line;
  const char* end = p + line.GetLength();
  while (end > p && Blank(end[-1])) --end;
  while (p < end) {
    while (p < end && Blank(*p)) ++p;
    if (p == end) break;
    const char* e = p;
    while (e < end && *e != ' ') ++e;
    entries.emplace_back(p, static_cast<int>(e - p));
    p = e;
  }
  return entries;
}

// Reads the data lines into `store`: item k of line L (an entry, or a pair
// of `width` 2) at item index 10L + k, `slots` elements of `store` an item. The array grows by one line of
// entries per data line, so it never holds more than the lines read, and stops at the ten-a-line size the
// header gives. kTooManyEntries for a line of more than ten entries, an entry past that size, or one at or
// past the cell count with more following on its line.
template <class T, class Put>
long ReadEntries(CStdioFile& file, long long cells, size_t width, size_t slots, std::vector<T>& store,
                 int& count, Put put) {
  const long long capacity = (cells + kEntriesPerLine - 1) / kEntriesPerLine * kEntriesPerLine;
  CString line;
  count = 0;
  // Blank lines hold no entries and take no place: the arrays follow the
  // entries the file really holds.
  for (long long lineIndex = 0; file.ReadString(line);) {
    const std::vector<CString> entries = Entries(line);
    const size_t items = (entries.size() + width - 1) / width;
    if (items == 0) continue;
    if (items > static_cast<size_t>(kEntriesPerLine)) return kTooManyEntries;
    for (size_t k = 0; k < items; ++k) {
      const long long index = lineIndex * kEntriesPerLine + static_cast<long long>(k);
      if (index >= capacity || (index >= cells && k + 1 < items) || count == INT32_MAX)
        return kTooManyEntries;
      const size_t needed = static_cast<size_t>(lineIndex + 1) * kEntriesPerLine * slots;
      if (store.size() < needed) store.resize(needed);
      const size_t first = k * width;
      put(store, static_cast<size_t>(index), entries[first],
          first + 1 < entries.size() ? entries[first + 1] : "");
      ++count;
    }
    ++lineIndex;
  }
  return 0;
}

}  // namespace

void CImgFileGrid::ForgetArrays() {
  // A load that succeeds replaces what an earlier one left: no array of
  // another value type may stay behind beside the new count.
  m_pCharValues = nullptr;
  m_pIntValues = nullptr;
  m_pIntPairs = nullptr;
  m_pCharPairs = nullptr;
}

long CImgFileGrid::LoadNsdtf() {
  CString path;
  if (!AskForFile(path)) return kCancelled;
  CStdioFile file;
  CFileException error;
  if (!file.Open(path, CFile::modeRead | CFile::typeText, &error)) return kCancelled;

  CString fields[13];
  for (CString& field : fields) {
    CString line;
    file.ReadString(line);
    field = ValueOf(line);
  }
  m_strDataMark = fields[0];
  m_dVersion = vtnum::AtoF(fields[1]);
  m_strUnit = fields[2];
  m_dAlpha = vtnum::AtoF(fields[3]);
  m_nCompress = ParseInt(fields[4]);
  m_dLowerLeftX = vtnum::AtoF(fields[5]);
  m_dLowerLeftY = vtnum::AtoF(fields[6]);
  m_dCellWidth = vtnum::AtoF(fields[7]);
  m_dCellHeight = vtnum::AtoF(fields[8]);
  m_nRows = ParseInt(fields[9]);
  m_nColumns = ParseInt(fields[10]);
  m_strValueType = fields[11];
  m_nHzoom = ParseInt(fields[12]);

  // Up to six "key:value" option lines; the first line without ':' is data.
  for (int option = 0; option < 6; ++option) {
    const ULONGLONG mark = file.GetPosition();
    CString line;
    if (!file.ReadString(line)) break;
    line.TrimLeft();
    const int colon = line.Find(':');
    if (colon < 0) {
      file.Seek(static_cast<LONGLONG>(mark), CFile::begin);
      break;
    }
    const CString key = line.Left(colon);
    const CString value = line.Mid(colon + 1);
    if (key.CompareNoCase("COORDINATE") == 0) {
      m_strCoordinate = value;
    } else if (key == "Projection") {
      m_strProjection = value;
    } else if (key == "Spheroid") {
      m_strSpheroid = value;
    } else if (key == "Parameters") {
      m_strParameters = value;
    } else if (key == "MaxV" || key == "MinV") {
      const bool max = key == "MaxV";
      if (m_strValueType == "Integer")
        (max ? m_nMaxValue : m_nMinValue) = ParseInt(value);
      else if (m_strValueType == "Char")
        (max ? m_strMaxValue : m_strMinValue) = value;
    }
  }
  m_strValueType.TrimRight();
  const long long cells = static_cast<long long>(m_nRows) * m_nColumns;
  int count = 0;

  if (m_nCompress == 0) {
    if (m_strValueType == "Integer") {
      std::vector<int> values;
      const long code = ReadEntries(
          file, cells, 1, 1, values, count,
          [](std::vector<int>& s, size_t i, const CString& v, const CString&) { s[i] = ParseInt(v); });
      if (code) return code;
      m_intValueStore = std::move(values);
      ForgetArrays();
      m_pIntValues = m_intValueStore.data();
      m_nValueCount = count;
      return kOtherType;
    }
    if (m_strValueType == "Char") {
      std::vector<CString> values;
      const long code =
          ReadEntries(file, cells, 1, 1, values, count,
                      [](std::vector<CString>& s, size_t i, const CString& v, const CString&) { s[i] = v; });
      if (code) return code;
      m_charValueStore = std::move(values);
      ForgetArrays();
      m_pCharValues = m_charValueStore.data();
      m_nValueCount = count;
      return kCharGrid;
    }
    return kOtherType;
  }
  if (m_nCompress == 1) {
    if (m_strValueType.CompareNoCase("Integer") == 0) {
      std::vector<int> pairs;
      const long code = ReadEntries(file, cells, 2, 2, pairs, count,
                                    [](std::vector<int>& s, size_t i, const CString& v, const CString& n) {
                                      s[2 * i] = ParseInt(v);
                                      s[2 * i + 1] = ParseInt(n);
                                    });
      if (code) return code;
      m_intPairStore = std::move(pairs);
      ForgetArrays();
      m_pIntPairs = m_intPairStore.data();
      m_nValueCount = count;
      return kOtherType;
    }
    if (m_strValueType.CompareNoCase("Char") == 0) {
      std::vector<NsdtfTextPair> pairs;
      const long code =
          ReadEntries(file, cells, 2, 1, pairs, count,
                      [](std::vector<NsdtfTextPair>& s, size_t i, const CString& v, const CString& n) {
                        s[i] = NsdtfTextPair{v, ParseInt(n)};
                      });
      if (code) return code;
      m_charPairStore = std::move(pairs);
      ForgetArrays();
      m_pCharPairs = m_charPairStore.data();
      m_nValueCount = count;
      return kCharGrid;
    }
    return kOtherType;
  }
  return kBadCompress;
}

long CImgFileGrid::SaveNsdtf() {
  const int count = m_nValueCount > 0 ? m_nValueCount : 0;
  const bool integer = m_strValueType == "Integer";
  const bool text = m_nCompress == 0 ? m_strValueType == "Char" : m_strValueType.CompareNoCase("Char") == 0;
  // The array the data needs must be there before anything is written.
  if (count > 0 &&
      ((m_nCompress == 0 && integer && !m_pIntValues) || (m_nCompress == 0 && text && !m_pCharValues) ||
       (m_nCompress == 1 && integer && !m_pIntPairs) || (m_nCompress == 1 && text && !m_pCharPairs)))
    return kCancelled;

  CString path;
  if (!AskForFile(path)) return kCancelled;
  CStdioFile file;
  CFileException error;
  // A new grid replaces whatever the file held.
  if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::typeText, &error)) return kCancelled;

  CString header;
  header.Format("DataMark:%s\nVersion:%s\nUnit:%s\nAlpha:%s\nCompress:%d\n",
                static_cast<const char*>(m_strDataMark), static_cast<const char*>(Decimal(m_dVersion, 7)),
                static_cast<const char*>(m_strUnit), static_cast<const char*>(Decimal(m_dAlpha, 7)),
                m_nCompress);
  header += "X0:" + Decimal(m_dLowerLeftX, 15) + "\nY0:" + Decimal(m_dLowerLeftY, 15) + "\n";
  header += "DX:" + Decimal(m_dCellWidth, 15) + "\nDY:" + Decimal(m_dCellHeight, 15) + "\n";
  header.AppendFormat("Row:%d\nCol:%d\nValuType:%s\nHzoom:%d\n", m_nRows, m_nColumns,
                      static_cast<const char*>(m_strValueType), m_nHzoom);
  const std::pair<const char*, const CString*> options[] = {{"Coordinate:", &m_strCoordinate},
                                                            {"Projection:", &m_strProjection},
                                                            {"Spheroid:", &m_strSpheroid},
                                                            {"Parameters:", &m_strParameters}};
  for (const auto& option : options)
    if (!option.second->IsEmpty()) header += option.first + *option.second + "\n";
  if (integer) {
    if (m_nMaxValue != 0) header.AppendFormat("MaxV:%d\n", m_nMaxValue);
    if (m_nMinValue != 0) header.AppendFormat("MinV:%d\n", m_nMinValue);
  } else if (m_strValueType == "Char") {
    if (!m_strMaxValue.IsEmpty()) header += "MaxV:" + m_strMaxValue + "\n";
    if (!m_strMinValue.IsEmpty()) header += "MinV:" + m_strMinValue + "\n";
  }
  file.WriteString(header);

  if (m_nCompress != 0 && m_nCompress != 1) {
    file.Close();
    return kBadCompress;
  }
  if (!integer && !text) {
    file.Close();
    return kOtherType;
  }
  // Ten entries a line, each after one space.
  std::string data;
  char number[32];
  for (int i = 0; i < count; ++i) {
    data.push_back(' ');
    if (m_nCompress == 0 && integer) {
      data += std::to_string(m_pIntValues[i]);
    } else if (m_nCompress == 0) {
      data += m_pCharValues[i].str();
    } else if (integer) {
      std::snprintf(number, sizeof number, "%d %d", m_pIntPairs[2 * i], m_pIntPairs[2 * i + 1]);
      data += number;
    } else {
      data += m_pCharPairs[i].m_strValue.str() + " " + std::to_string(m_pCharPairs[i].m_nCount);
    }
    if (i % kEntriesPerLine == kEntriesPerLine - 1 || i + 1 == count) data.push_back('\n');
    if (data.size() >= (1u << 16)) {
      file.Write(data.data(), static_cast<UINT>(data.size()));
      data.clear();
    }
  }
  file.Write(data.data(), static_cast<UINT>(data.size()));
  file.Close();
  return integer ? kOtherType : kCharGrid;
}
