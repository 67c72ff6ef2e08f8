// The ESRI ASCII grid: rows from the top, read once each in order. Cells
// are read as doubles and delivered in the cell format chosen with -oo
// pixel_format, or, without it, in the smallest one that holds every value
// of the grid unchanged (16-bit integers, 32-bit integers, floats,
// doubles). A chosen float format takes each value's nearest single, as a
// user asking for singles means; a value the chosen format cannot hold (an
// integer format would cut it, or it lies beyond the largest single) fails
// its row, naming it. A data file whose header lies in a .hdr file beside
// it is read with that header. Grids of several megabytes are parsed on
// several threads (-oo threads=N, one a core by default), with the cells
// and failures one thread gives.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "access/CellFormat.h"
#include "access/RasterDriver.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileGrid.h"

namespace vtfmt {
namespace {

// The cells of a whole grid, read once, kept in the narrowest form that
// holds every value read so far exactly and widened as values need:
// 16-bit integers, 32-bit integers, singles, doubles. A single stands for
// its own value or, when a bit says so, for the double its shortest text
// reads as (what CellFormat's Fits admits).
class CellStore {
  // The index of a value and the formats that fit every value up to it.
  struct Mark {
    size_t index;
    unsigned fitting;
  };

 public:
  // Formats in the order of choice.
  static constexpr int kOrder[] = {PF_BIT16, PF_INT32, PF_FLOAT32, PF_FLOAT64};

  // `keep` false: the store follows the formats that fit and counts the
  // values, but keeps none of them.
  explicit CellStore(size_t cells, bool keep = true) : m_cells(cells), m_keep(keep) {}

  // The formats that fit each of the first `count` values.
  unsigned FittingAfter(size_t count) const {
    unsigned fitting = 7;
    for (const Mark& change : m_changes)
      if (change.index < count) fitting = change.fitting;
    return fitting;
  }
  static int FormatOf(unsigned fitting) { return kOrder[FirstFitting(fitting)]; }

  // The smallest format in the order that holds every value added.
  int Format() const { return kOrder[FirstFitting()]; }

  size_t Count() const { return m_count; }

  void Add(double v) {
    // Drop the formats the value does not fit; doubles hold everything.
    // When singles are all that is left, a value that is a single fits
    // them without more ado.
    if (!(m_fitting == 4 && static_cast<double>(static_cast<float>(v)) == v)) {
      const unsigned before = m_fitting;
      for (int k = 0; k < 3; ++k)
        if ((m_fitting & (1u << k)) && !Fits(v, kOrder[k])) m_fitting &= ~(1u << k);
      if (m_fitting != before) m_changes.push_back({m_count, m_fitting});
    }
    // An integer form keeps no sign of zero: the -0s are noted, and given
    // their sign back when the store widens to singles or doubles.
    if (v == 0 && std::signbit(v)) m_negativeZeros.push_back({m_count, m_fitting});
    if (!m_keep) {
      ++m_count;
      return;
    }
    const int level = FirstFitting();
    if (level != m_level) Widen(level);
    PushAt(m_level, v);
  }

  // Row `row` of `columns` cells into `data`, in Format().
  void Row(long row, long columns, unsigned char* data) const {
    const size_t size = CellBytes();
    std::memcpy(data, m_bytes.get() + static_cast<size_t>(row) * columns * size, columns * size);
  }

  // Adds the first `take` values of `part`, a store of the values that
  // follow this one's, with the same result as adding each of them here.
  void Append(const CellStore& part, size_t take) {
    const unsigned before = m_fitting;
    m_fitting &= part.FittingAfter(take);
    const int level = FirstFitting();
    if (level != m_level) Widen(level);
    const size_t base = m_count;
    if (take == 0) {
    } else if (part.m_level == m_level) {
      if (!m_bytes) m_bytes.reset(new unsigned char[m_cells * CellBytes()]);
      std::memcpy(m_bytes.get() + base * CellBytes(), part.m_bytes.get(), take * CellBytes());
      m_count += take;
      if (m_level == 2) {
        // The singles that stand for their shortest text.
        m_shortest.resize(std::max(m_shortest.size(), std::min(m_cells / 64 + 1, (m_count + 63) / 64)));
        for (size_t w = 0; w < part.m_shortest.size() && 64 * w < take; ++w)
          for (uint64_t bits = part.m_shortest[w]; bits; bits &= bits - 1) {
            const size_t i = 64 * w + static_cast<size_t>(__builtin_ctzll(bits));
            if (i < take) m_shortest[(base + i) / 64] |= uint64_t(1) << ((base + i) % 64);
          }
      }
    } else {
      for (size_t i = 0; i < take; ++i) PushAt(m_level, part.Value(i));
    }
    // A -0 keeps its sign whenever the grid is held as singles or doubles.
    if (m_level >= 2)
      for (const Mark& zero : part.m_negativeZeros) {
        if (zero.index >= take) break;
        m_negativeZeros.push_back({base + zero.index, zero.fitting & before});
        SetNegativeZero(base + zero.index);
      }
    else
      for (const Mark& zero : part.m_negativeZeros) {
        if (zero.index >= take) break;
        m_negativeZeros.push_back({base + zero.index, zero.fitting & before});
      }
  }

 private:
  static int FirstFitting(unsigned fitting) {
    for (int k = 0; k < 3; ++k)
      if (fitting & (1u << k)) return k;
    return 3;
  }
  int FirstFitting() const { return FirstFitting(m_fitting); }
  size_t CellBytes() const { return m_level == 0 ? 2 : m_level == 3 ? 8 : 4; }
  void PushAt(int level, double v) {
    switch (level) {
      case 0: Push<int16_t>(static_cast<int16_t>(v)); break;
      case 1: Push<int32_t>(static_cast<int32_t>(v)); break;
      case 2: PushSingle(v); break;
      default: Push<double>(v); break;
    }
  }
  template <class T>
  void Set(size_t i, T value) {
    std::memcpy(m_bytes.get() + i * sizeof(T), &value, sizeof(T));
  }
  template <class T>
  void Push(T value) {
    // Room for the whole grid in this form, left uninitialised: the memory
    // is only touched as cells arrive.
    if (!m_bytes) m_bytes.reset(new unsigned char[m_cells * sizeof(T)]);
    std::memcpy(m_bytes.get() + m_count * sizeof(T), &value, sizeof(T));
    ++m_count;
  }
  void PushSingle(double v) {
    const float single = static_cast<float>(v);
    if (m_count / 64 >= m_shortest.size()) m_shortest.resize(std::min(m_cells / 64 + 1, 2 * (m_count / 64) + 64));
    if (static_cast<double>(single) != v) m_shortest[m_count / 64] |= uint64_t(1) << (m_count % 64);
    Push<float>(single);
  }
  template <class T>
  T Get(size_t i) const {
    T value;
    std::memcpy(&value, m_bytes.get() + i * sizeof(T), sizeof(T));
    return value;
  }
  double Value(size_t i) const {
    switch (m_level) {
      case 0: return Get<int16_t>(i);
      case 1: return Get<int32_t>(i);
      case 2: {
        const float single = Get<float>(i);
        if (!(m_shortest[i / 64] >> (i % 64) & 1)) return single;
        const std::string text = vtnum::Shortest(single);
        double v = 0;
        vtnum::ParseWhole(text.data(), text.size(), v);
        return v;
      }
      default: return Get<double>(i);
    }
  }
  // Rewrites the values held so far in the wider form `level`.
  void Widen(int level) {
    const size_t count = m_count;
    CellStore wider(m_cells);
    wider.m_level = level;
    wider.m_fitting = m_fitting;
    for (size_t i = 0; i < count; ++i) {
      const double v = Value(i);
      if (level == 1) wider.Push<int32_t>(static_cast<int32_t>(v));
      else if (level == 2) wider.PushSingle(v);
      else wider.Push<double>(v);
    }
    m_bytes.swap(wider.m_bytes);
    m_shortest.swap(wider.m_shortest);
    m_level = level;
    m_count = wider.m_count;
    // Integers held no sign of zero: the -0s read while they did get it back.
    if (level >= 2)
      for (const Mark& zero : m_negativeZeros)
        if (zero.index < count) SetNegativeZero(zero.index);
  }
  void SetNegativeZero(size_t i) {
    if (m_level == 2) Set<float>(i, -0.0f);
    else if (m_level == 3) Set<double>(i, -0.0);
  }

  size_t m_cells;
  bool m_keep = true;
  unsigned m_fitting = 7;  // bit k: every value fits kOrder[k]
  int m_level = 0;         // the form held: the index in kOrder
  size_t m_count = 0;      // values held
  std::unique_ptr<unsigned char[]> m_bytes;
  std::vector<uint64_t> m_shortest;  // singles standing for their shortest text
  std::vector<Mark> m_changes;        // where the fitting formats changed
  std::vector<Mark> m_negativeZeros;  // where a -0 was added
};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads as much of `size` bytes at `offset` of `fd` as there are.
size_t ReadAt(int fd, char* data, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// The first place at or after `from` (and before `limit`) where cell text
// can be cut without cutting a value: the start of a line, or, when there
// is no line end in the next megabyte, the place after a white space.
// `limit` when there is none.
off_t CutAfter(int fd, off_t from, off_t limit) {
  char block[65536];
  off_t at = from, space = -1;
  while (at < limit) {
    const size_t n = ReadAt(fd, block, static_cast<size_t>(std::min<off_t>(sizeof block, limit - at)), at);
    if (n == 0) break;
    if (const void* end = std::memchr(block, '\n', n))
      return at + (static_cast<const char*>(end) - block) + 1;
    for (size_t i = 0; space < 0 && i < n; ++i)
      if (IsSpace(block[i])) space = at + static_cast<off_t>(i) + 1;
    at += static_cast<off_t>(n);
    if (space >= 0 && at - from >= (1 << 20)) return space;
  }
  return limit;
}

// The values of a piece of cell text that starts and ends between values.
struct CellPiece {
  enum Keep {
    kNarrowest,  // in the narrowest form that holds them (`cells`)
    kFitting,    // none, only the formats that fit them (`cells`)
    kDoubles,    // as doubles (`values`)
  };
  struct Fault {
    size_t index;  // the value the token would have been
    std::string token;
  };

  std::unique_ptr<char[]> text;  // left uninitialised: the file's bytes fill it
  size_t capacity = 0;
  std::unique_ptr<CellStore> cells;
  std::vector<double> values;
  // Tokens that are no number: the first ends the piece, but for kDoubles,
  // where parsing goes on after each.
  std::vector<Fault> faults;
  bool read = true;  // false when the text could not be read whole

  size_t Count() const { return cells ? cells->Count() : values.size(); }

  // Reads [begin, end) of `fd` and parses it as the row reader reads cells.
  void Parse(int fd, off_t begin, off_t end, const CImgFileGrid& grid, Keep keep) {
    const size_t want = static_cast<size_t>(end - begin);
    if (want > capacity) text.reset(new char[capacity = want]);
    const size_t size = ReadAt(fd, text.get(), want, begin);
    read = size == want;
    faults.clear();
    values.clear();
    cells.reset();
    // Each value takes at least two bytes, but for the last.
    if (keep != kDoubles) cells = std::make_unique<CellStore>(size / 2 + 1, keep == kNarrowest);
    else values.reserve(size / 4);
    const char* p = text.get();
    const char* const stop = p + size;
    for (;;) {
      while (p < stop && IsSpace(*p)) ++p;
      if (p == stop) return;
      double v;
      // A number that white space or the piece's end follows is a token.
      const size_t used = vtnum::ParseDouble(p, static_cast<size_t>(stop - p), v);
      const size_t rest = static_cast<size_t>(stop - p);
      if (used > 0 && used <= CImgFileGrid::kCellTokenMax && (used == rest || IsSpace(p[used]))) {
        if (keep == kDoubles) values.push_back(grid.CellValue(v, -9999.0));
        else cells->Add(grid.CellValue(v, -9999.0));
        p += used;
        continue;
      }
      const char* q = p;
      while (q < stop && !IsSpace(*q)) ++q;
      // A run longer than a token is read as several.
      while (p < q) {
        const size_t length = std::min<size_t>(static_cast<size_t>(q - p), CImgFileGrid::kCellTokenMax);
        if (!CImgFileGrid::ParseCellToken(p, length, v)) {
          faults.push_back({Count(), std::string(p, length)});
          if (keep != kDoubles) return;
        } else if (keep == kDoubles) {
          values.push_back(grid.CellValue(v, -9999.0));
        } else {
          cells->Add(grid.CellValue(v, -9999.0));
        }
        p += length;
      }
    }
  }
};

// Cell text of a grid file from a place on, parsed a window at a time on
// several threads: each window of a few megabytes a thread is cut between
// values into one piece a thread, and the pieces are parsed together.
class CellWindows {
 public:
  CellWindows(const CImgFileGrid& grid, int fd, off_t start, off_t end, int threads, CellPiece::Keep keep)
      : m_grid(grid), m_fd(fd), m_at(start), m_end(end), m_threads(threads), m_keep(keep),
        m_own(static_cast<size_t>(threads)), m_cuts(static_cast<size_t>(threads) + 1, start) {
    m_pieceBytes = std::max(kPieceBytes, std::min<off_t>(4 * kPieceBytes, (end - start) / threads + 1));
  }

  // Parses the next window into Pieces(); false when the text has ended.
  bool Next() { return Next(m_own); }
  // The same into `pieces`, one a thread.
  bool Next(std::vector<CellPiece>& pieces) {
    if (m_at >= m_end) return false;
    const off_t window = std::min<off_t>(m_end - m_at, m_pieceBytes * m_threads);
    const off_t windowEnd = m_at + window >= m_end ? m_end : CutAfter(m_fd, m_at + window, m_end);
    m_cuts[0] = m_at;
    for (int k = 1; k < m_threads; ++k)
      m_cuts[k] = std::max(m_cuts[k - 1], CutAfter(m_fd, m_at + window / m_threads * k, windowEnd));
    m_cuts[m_threads] = windowEnd;
    auto parse = [this, &pieces](int k) { pieces[k].Parse(m_fd, m_cuts[k], m_cuts[k + 1], m_grid, m_keep); };
    std::vector<std::thread> helpers;
    std::vector<int> here = {0};  // pieces parsed on this thread
    for (int k = 1; k < m_threads; ++k) {
      if (m_cuts[k] == m_cuts[k + 1]) {
        here.push_back(k);
        continue;
      }
      try {
        helpers.emplace_back(parse, k);
      } catch (const std::system_error&) {
        here.push_back(k);  // no thread to be had: parsed here
      }
    }
    for (int k : here) parse(k);
    for (std::thread& helper : helpers) helper.join();
    m_at = windowEnd;
    return true;
  }

  // The pieces of the last window that Next() parsed, in the order of the text.
  std::vector<CellPiece>& Pieces() { return m_own; }
  int Threads() const { return m_threads; }

  // Text from which parsing on several threads pays: the threads are
  // started for files of a few megabytes only.
  static constexpr off_t kPieceBytes = 1 << 20;
  static constexpr off_t kParallelBytes = 4 * kPieceBytes;

 private:
  const CImgFileGrid& m_grid;
  int m_fd;
  off_t m_at, m_end;
  int m_threads;
  CellPiece::Keep m_keep;
  off_t m_pieceBytes;
  std::vector<CellPiece> m_own;
  std::vector<off_t> m_cuts;
};

// The cells of a grid, one at a time in the order of the file, parsed a
// window at a time on several threads. The window after the one being
// read is parsed meanwhile, so that the rows' conversion and output
// overlap the parsing.
class CellStream {
 public:
  enum Result { kValue, kEnd, kNoNumber };

  CellStream(const CImgFileGrid& grid, int fd, off_t start, off_t end, int threads)
      : m_windows(grid, fd, start, end, threads, CellPiece::kDoubles),
        m_pieces(static_cast<size_t>(threads)),
        m_ahead(static_cast<size_t>(threads)) {}
  ~CellStream() { Wait(); }
  CellStream(const CellStream&) = delete;
  CellStream& operator=(const CellStream&) = delete;

  // The next cell; kNoNumber when its token is no number (Token() gives
  // it), which is then passed over as the row reader passes it over.
  Result Next(double& v) {
    for (;;) {
      if (m_piece < m_count) {
        const CellPiece& piece = m_pieces[m_piece];
        if (m_fault < piece.faults.size() && piece.faults[m_fault].index == m_at) {
          m_token = piece.faults[m_fault++].token;
          return kNoNumber;
        }
        if (m_at < piece.values.size()) {
          v = piece.values[m_at++];
          return kValue;
        }
        if (!piece.read) return kEnd;
        ++m_piece, m_at = 0, m_fault = 0;
        continue;
      }
      // The window parsed ahead, or, the first time, this one.
      if (!m_started) {
        m_started = true;
        m_more = m_windows.Next(m_ahead);
      } else {
        Wait();
      }
      if (!m_more) return kEnd;
      m_pieces.swap(m_ahead);
      m_count = m_pieces.size(), m_piece = 0, m_at = 0, m_fault = 0;
      try {
        m_parser = std::thread([this] { m_more = m_windows.Next(m_ahead); });
      } catch (const std::system_error&) {
        m_more = m_windows.Next(m_ahead);  // no thread to be had: parsed here
      }
    }
  }
  const std::string& Token() const { return m_token; }

 private:
  void Wait() {
    if (m_parser.joinable()) m_parser.join();
  }

  CellWindows m_windows;
  std::vector<CellPiece> m_pieces;  // the window being read
  std::vector<CellPiece> m_ahead;   // the next one, parsed by m_parser
  std::thread m_parser;
  bool m_started = false;
  bool m_more = false;  // m_ahead holds a window
  size_t m_count = 0;   // pieces of m_pieces to read
  size_t m_piece = 0, m_at = 0, m_fault = 0;
  std::string m_token;
};

// The grid with a row of doubles, read before each row is delivered, or
// the whole grid when the cell format is chosen from its values.
class AsciiGridFile : public CImgFileGrid {
 public:
  CImgScanLine m_Cells;
  int m_nDeliver = -1;  // the cell format chosen with -oo pixel_format, or -1
  std::unique_ptr<CellStore> m_pStore;
  long m_nNextRow = 0;  // the next row the store hands out
  int m_nThreads = 0;   // threads that parse the cells; 0 one a core
  // The cells as the rows take them, when they are parsed on several
  // threads and not held whole.
  std::unique_ptr<CellStream> m_pStream;

  void Close() override {
    m_pStream.reset();
    CImgFileGrid::Close();
  }
  void Abort() override {
    m_pStream.reset();
    CImgFileGrid::Abort();
  }
};

class AsciiGridDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "aaigrid"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<RowForm> WriteForms() const override {
    return {CellForm(16, 'i'), CellForm(32, 'i'), CellForm(32, 'f'), CellForm(64, 'f')};
  }
  std::vector<std::string> Extensions() const override { return {".asc"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"pixel_format",
             "cell format of the rows read: " + std::string(kCellFormatList) + " (default: the smallest that holds "
             "every value exactly; 3200 takes each value's nearest single)"},
            {"threads",
             "threads that parse the cells of grids of several megabytes, 1 to 1024 (default: one a core)"}};
  }

  // The first word of the file is "ncols" in any case.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    size_t i = 0;
    while (i < head.size() && std::isspace(head[i])) ++i;
    const char* key = "ncols";
    size_t k = 0;
    while (k < 5 && i + k < head.size() && std::tolower(head[i + k]) == key[k]) ++k;
    const bool ended = i + k == head.size() || std::isspace(head[i + k]);
    if (k == 5 && ended) return kContent;
    return RasterDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<AsciiGridFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first == "threads") {
        long threads = 0;
        if (!ParseThreads(option.second, threads, reason)) return false;
        static_cast<AsciiGridFile&>(file).m_nThreads = static_cast<int>(threads);
        continue;
      }
      if (option.first != "pixel_format") {
        reason = "driver aaigrid takes no option " + option.first;
        return false;
      }
      int value = 0;
      if (!ParseCellFormat(option.second, value, reason)) return false;
      static_cast<CImgFileGrid&>(file).m_RequestedPixelFormat = value;
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    AsciiGridFile& grid = static_cast<AsciiGridFile&>(file);
    grid.m_nDeliver = grid.m_RequestedPixelFormat;
    grid.m_RequestedPixelFormat = PF_FLOAT64;  // the cells as read, converted per row
    grid.m_pStore.reset();
    grid.m_pStream.reset();
    grid.m_nNextRow = 0;
    if (!RasterDriver::OpenRead(file, path, reason)) return false;
    if (grid.m_nFormatMode == CImgFileGrid::kEsriHeaderFile) {
      // The header came from the .hdr file: the rows are in the data file.
      const CString data = grid.m_strDataPath;
      if (!grid.OpenForRead(data)) {
        reason = "cannot open the data file";
        return false;
      }
      grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
      grid.m_RequestedPixelFormat = PF_FLOAT64;
      grid.m_bHeaderLoaded = 1;
    }
    grid.m_Cells = CImgScanLine(PF_FLOAT64, 8L * grid.m_nColumns);
    int format = grid.m_nDeliver;
    if (format < 0) {
      if (!Choose(grid, format, reason)) return false;
    } else {
      off_t start = 0, end = 0;
      const int threads = Threads(grid, start, end);
      if (threads > 1)
        grid.m_pStream =
            std::make_unique<CellStream>(grid, ::fileno(grid.m_TextFile.m_pStream), start, end, threads);
    }
    grid.m_nDeliver = format;
    grid.SetPixelFormat(static_cast<ImgPixelFormat>(format));
    grid.SetPixelFormatExt(static_cast<ImgPixelFormat>(format));
    grid.SetWidthBytes(static_cast<unsigned long>(
        CVtImgToolkit::AlignWidth(static_cast<ImgPixelFormat>(format), grid.m_nColumns)));
    return true;
  }

  // Grids whose cells would take more memory than this are read twice when
  // their cell format is chosen from the values, rather than held whole.
  static constexpr double kStoreLimit = 1024.0 * 1024 * 1024;

  // Reads every row of the grid as doubles, handing each cell to `take`;
  // false with `reason` at the first row that cannot be read.
  template <typename Take>
  static bool EachCell(AsciiGridFile& grid, std::string& reason, Take take) {
    for (int row = 0; row < grid.m_nRows; ++row) {
      if (grid.ReadScanLine(row, grid.m_Cells) < 0) {
        reason = "cannot read row " + std::to_string(row);
        return false;
      }
      const unsigned char* cellBytes = grid.m_Cells.GetData();
      for (int c = 0; c < grid.m_nColumns; ++c) {
        double v;
        std::memcpy(&v, cellBytes + 8 * static_cast<size_t>(c), sizeof v);
        take(v);
      }
    }
    return true;
  }

  // The smallest cell format that holds every value exactly. The grid is
  // read once and held, narrowest first; a very large grid is read twice.
  static bool Choose(AsciiGridFile& grid, int& format, std::string& reason) {
    const double cells = static_cast<double>(grid.m_nColumns) * grid.m_nRows;
    if (cells * 4 > kStoreLimit) return ChooseByRereading(grid, format, reason);
    auto store = std::make_unique<CellStore>(static_cast<size_t>(cells));
    off_t start = 0, end = 0;
    const int threads = Threads(grid, start, end);
    if (threads > 1) {
      auto join = [&store](const CellPiece& piece, size_t take) { store->Append(*piece.cells, take); };
      if (!EachPiece(grid, threads, start, end, CellPiece::kNarrowest, reason, join)) return false;
    } else if (!EachCell(grid, reason, [&store](double v) { store->Add(v); })) {
      return false;
    }
    format = store->Format();
    grid.m_pStore = std::move(store);
    return true;
  }

  // The threads that parse the grid's cells, and the cell text's place in
  // the file: 1 for small grids.
  static int Threads(AsciiGridFile& grid, off_t& start, off_t& end) {
    int threads = grid.m_nThreads;
    if (threads == 1) return 1;
    FILE* stream = grid.m_TextFile.m_pStream;
    if (!stream) return 1;
    start = ::ftello(stream);
    struct stat st;
    if (start < 0 || ::fstat(::fileno(stream), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size - start < CellWindows::kParallelBytes)
      return 1;
    end = st.st_size;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (threads <= 0) threads = static_cast<int>(std::min(64u, cores));
    // No thread gets less than a megabyte of text.
    return static_cast<int>(std::min<off_t>(threads, (end - start) / CellWindows::kPieceBytes));
  }

  // Reads the cells of [start, end) of the text file as EachCell reads
  // them, on `threads` threads, and hands each piece and the number of its
  // values that are cells of the grid to `join`, in the order of the file.
  // A fault is reported as EachCell reports it: the first in the file, any
  // text after the last cell being ignored.
  template <typename Join>
  static bool EachPiece(AsciiGridFile& grid, int threads, off_t start, off_t end, CellPiece::Keep keep,
                        std::string& reason, Join join) {
    const size_t cells = static_cast<size_t>(grid.m_nColumns) * static_cast<size_t>(grid.m_nRows);
    auto cannotRead = [&](size_t cell) {
      reason = "cannot read row " + std::to_string(cell / static_cast<size_t>(grid.m_nColumns));
      return false;
    };
    CellWindows windows(grid, ::fileno(grid.m_TextFile.m_pStream), start, end, threads, keep);
    size_t count = 0;
    while (count < cells) {
      if (!windows.Next()) return cannotRead(count);
      for (const CellPiece& piece : windows.Pieces()) {
        const size_t take = std::min(piece.Count(), cells - count);
        join(piece, take);
        count += take;
        if (count == cells) break;
        if (!piece.faults.empty()) {
          grid.ReportNotANumber(piece.faults.front().token);
          return cannotRead(count);
        }
        if (!piece.read) return cannotRead(count);
      }
    }
    return true;
  }

  // One pass over the cells to choose, then back to the first.
  static bool ChooseByRereading(AsciiGridFile& grid, int& format, std::string& reason) {
    off_t start = 0, end = 0;
    const int threads = Threads(grid, start, end);
    if (threads > 1) {
      unsigned fitting = 7;
      const bool read = EachPiece(grid, threads, start, end, CellPiece::kFitting, reason,
                                  [&fitting](const CellPiece& piece, size_t take) {
                                    fitting &= piece.cells->FittingAfter(take);
                                  });
      if (!read) return false;
      format = CellStore::FormatOf(fitting);
      grid.m_pStream =
          std::make_unique<CellStream>(grid, ::fileno(grid.m_TextFile.m_pStream), start, end, threads);
      return true;
    }
    const ULONGLONG first = grid.m_TextFile.GetPosition();
    unsigned fitting = 7;  // bit k: every value fits CellStore::kOrder[k]
    const bool read = EachCell(grid, reason, [&fitting](double v) {
      for (int k = 0; k < 3; ++k)
        if ((fitting & (1u << k)) && !Fits(v, CellStore::kOrder[k])) fitting &= ~(1u << k);
    });
    if (!read) return false;
    grid.m_TextFile.Seek(static_cast<LONGLONG>(first), CFile::begin);
    format = CellStore::FormatOf(fitting);
    return true;
  }

  bool SequentialRead() const override { return true; }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    AsciiGridFile& grid = static_cast<AsciiGridFile&>(file);
    const int format = grid.m_nDeliver;
    const long cells = grid.m_nColumns;
    if (line.GetSize() < CVtImgToolkit::AlignWidthByte(static_cast<ImgPixelFormat>(format), cells)) return -1;
    if (grid.m_pStore) {
      // The next row, as the file would give it.
      if (grid.m_nNextRow >= grid.m_nRows) return -1;
      grid.m_pStore->Row(grid.m_nNextRow, cells, line.GetData());
      ++grid.m_nNextRow;
      return line.GetSize();
    }
    if (grid.m_pStream) {
      // The row as the text file would give it.
      if (!grid.m_bOpen) return -1;
      unsigned char* cellBytes = grid.m_Cells.GetData();
      for (long i = 0; i < cells; ++i) {
        double v;
        const CellStream::Result r = grid.m_pStream->Next(v);
        if (r == CellStream::kNoNumber) grid.ReportNotANumber(grid.m_pStream->Token());
        if (r != CellStream::kValue) return -1;
        std::memcpy(cellBytes + 8 * i, &v, sizeof v);
      }
    } else if (grid.ReadScanLine(row, grid.m_Cells) < 0) {
      return -1;
    }
    for (long i = 0; i < cells; ++i) {
      double v;
      std::memcpy(&v, grid.m_Cells.GetData() + 8 * i, sizeof v);
      if (format == PF_FLOAT32 && std::fabs(v) <= FLT_MAX) {
        // Singles hold every finite value up to the largest single.
        const float single = static_cast<float>(v);
        std::memcpy(line.GetData() + 4 * i, &single, sizeof single);
        continue;
      }
      if (!Holds(v, format)) {
        CString text;
        text.Format("cell value %s (row %ld, column %ld) does not fit pixel format %d; choose another with "
                    "-oo pixel_format",
                    vtnum::Shortest(v).c_str(), row, i, format);
        VtGetErrorMsgObj()->SetMessage(0L, text);
        return -1;
      }
      Put(line.GetData(), i, v, format);
    }
    return line.GetSize();
  }

  // Cells are values, not colours.
  bool HoldsCells(CImgFile&) const override { return true; }
  bool GetNoData(CImgFile& file, double& value) const override {
    if (!static_cast<CImgFileGrid&>(file).m_bHasNoData) return false;
    value = -9999.0;  // the value no-data cells are delivered as
    return true;
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<CImgFileGrid&>(file).GetGeoReference(bounds) != 0;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    // The value the delivered rows carry for no-data cells.
    return {{"nodata_value", grid.m_bHasNoData ? "-9999" : "none"},
            {"reference", grid.m_bCenter ? "center" : "corner"}};
  }

  // The header is written from the grid's own members, not from the size.
  void SetBounds(CImgFile& file, const CRect2D& bounds) const override {
    CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    grid.m_dLowerLeftX = bounds.left;
    grid.m_dLowerLeftY = bounds.bottom;
    if (file.GetWidth() > 0) grid.m_dCellWidth = bounds.Width() / file.GetWidth();
    grid.m_dCellHeight = file.GetHeight() > 0 ? bounds.Height() / file.GetHeight() : grid.m_dCellWidth;
  }

  // Without bounds: corner (0, 0) and cell size 1 (SaveImage turns a cell
  // size of 0 into 1). The header has one cell size: cells that are not
  // square would put the grid in the wrong place, so they are refused.
  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
    const double w = grid.m_dCellWidth, h = grid.m_dCellHeight;
    if (std::fabs(w - h) > 1e-9 * std::max(std::fabs(w), std::fabs(h))) {
      reason = "cells of " + vtnum::Shortest(w) + " x " + vtnum::Shortest(h) +
               " are not square; the header holds one cell size";
      return false;
    }
    if (file.GetWidth() > INT32_MAX || file.GetHeight() > INT32_MAX) {
      reason = "the grid is too large for the header";
      return false;
    }
    grid.m_nColumns = static_cast<int>(file.GetWidth());
    grid.m_nRows = static_cast<int>(file.GetHeight());
    grid.m_dNoDataValue = -9999.0;
    return RasterDriver::SaveHeader(file, reason);
  }
};

const AsciiGridDriver kDriver;
const RegisterDriver kRegistered(30, &kDriver);

}  // namespace
}  // namespace vtfmt
