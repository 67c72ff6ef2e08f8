// vtfmt._vtfmt: the compiled part of the Python module. Rasters as numpy
// arrays through every driver, E00 lines and character-set conversion. The
// interpreter lock is released while files are read and written.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "access/ArrayReader.h"
#include "access/ArrayWriter.h"
#include "EscapedText.h"
#include "platform/mfc/CException.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/VtNumber.h"
#include "text/CVtTextCodec.h"
#include "vector/e00/CVtE00.h"

namespace py = pybind11;
using namespace vtfmt;

namespace {

// Option values as the drivers take them: text, with Python's booleans
// as 1 and 0.
Options OptionsOf(const py::kwargs& kwargs) {
  Options options;
  for (const auto& item : kwargs) {
    const std::string key = py::str(item.first);
    py::handle value = item.second;
    if (py::isinstance<py::bool_>(value))
      options[key] = value.cast<bool>() ? "1" : "0";
    else
      options[key] = py::str(value);
  }
  return options;
}

// A path as the file calls take it: the library's calls stop at a NUL, so
// a path holding one would name another file; refused as Python's open() does.
const std::string& CheckedPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
  return path;
}

// "=u1", "=i2", "=f4", "=c8": numpy's codes are the layout's kinds.
py::dtype DtypeOf(ArrayType type) { return py::dtype(std::string("=") + type.kind + std::to_string(type.bytes)); }

// What a reader tells of its file, taken once when it opens, so that
// reading it never waits for a read on another thread.
struct ReaderInfo {
  std::string driver;
  unsigned long width = 0, height = 0;
  int bands = 1;
  ArrayType type;
  int pixelFormat = 0;
  bool bottomUp = false;
  std::optional<CRect2D> bounds;
  std::optional<double> noData;
  std::vector<unsigned char> palette;
};

// A reader shared by its Python object and the row iterators it made; one
// read at a time, so that a reader used from several threads stays whole.
class Reader {
 public:
  Reader(const std::string& path, const std::string& driver, const Options& options) {
    py::gil_scoped_release unlocked;
    reader_ = std::make_unique<ArrayReader>(path, driver, options);
    ArrayReader& r = *reader_;
    info_ = {r.Driver().Name(), r.Width(), r.Height(), r.Samples(), r.Type(),
             static_cast<int>(r.File().GetPixelFormat()), r.BottomUp(), r.Bounds(), r.NoData(), r.Palette()};
  }

  const ReaderInfo& Info() const { return info_; }

  void Close() {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    reader_.reset();
  }

  // Picture rows [start, stop) as an array of (rows, width[, samples]);
  // without the first axis for one row when `squeezeRow`.
  py::array Read(long long start, long long stop, bool squeezeRow) {
    if (start < 0 || start > stop || static_cast<unsigned long long>(stop) > info_.height)
      throw py::index_error("rows (" + std::to_string(start) + ", " + std::to_string(stop) + ") are not within (0, " +
                            std::to_string(info_.height) + ")");
    std::vector<py::ssize_t> shape;
    if (!squeezeRow) shape.push_back(static_cast<py::ssize_t>(stop - start));
    shape.push_back(static_cast<py::ssize_t>(info_.width));
    if (info_.bands > 1) shape.push_back(info_.bands);
    py::array out(DtypeOf(info_.type), shape);
    auto* data = static_cast<unsigned char*>(out.mutable_data());
    bool closed = false;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      if (reader_) reader_->Read(start, stop, data);
      else closed = true;
    }
    if (closed) throw py::value_error("the reader is closed");
    return out;
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<ArrayReader> reader_;
  ReaderInfo info_;
};

// The picture rows of a reader, one array each, top first. The row is
// taken before the read lets other threads in, so that an iterator shared
// by threads hands each row out once; a failed read gives it back.
class RowIterator {
 public:
  explicit RowIterator(std::shared_ptr<Reader> reader) : reader_(std::move(reader)) {}
  py::array Next() {
    if (next_ >= reader_->Info().height) throw py::stop_iteration();
    const unsigned long row = next_++;
    try {
      return reader_->Read(row, row + 1, true);
    } catch (...) {
      if (next_ == row + 1) next_ = row;
      throw;
    }
  }

 private:
  std::shared_ptr<Reader> reader_;
  unsigned long next_ = 0;
};

std::shared_ptr<Reader> Open(const std::string& path, const std::optional<std::string>& driver, const py::kwargs& kwargs) {
  return std::make_shared<Reader>(CheckedPath(path), driver.value_or(""), OptionsOf(kwargs));
}

void Write(const std::string& path, py::array array, const std::optional<std::string>& driver,
           const std::optional<std::vector<double>>& bounds, const std::optional<py::array>& palette,
           const py::kwargs& kwargs) {
  CheckedPath(path);
  array = py::array::ensure(array, py::array::c_style);
  if (!array) throw py::type_error("the image must be an array");
  if (array.ndim() != 2 && array.ndim() != 3)
    throw py::value_error("the image must be a 2-d array (rows, columns) or 3-d (rows, columns, samples)");
  const py::dtype dtype = array.dtype();
  ArrayImage image;
  image.height = static_cast<unsigned long>(array.shape(0));
  image.width = static_cast<unsigned long>(array.shape(1));
  image.samples = array.ndim() == 3 ? static_cast<int>(array.shape(2)) : 1;
  image.type = {dtype.kind() == 'b' ? 'u' : dtype.kind(), static_cast<int>(dtype.itemsize())};
  if (!dtype.attr("isnative").cast<bool>()) throw py::value_error("the array must be in the machine's byte order");
  image.data = static_cast<const unsigned char*>(array.data());
  std::optional<CRect2D> box;
  if (bounds) {
    if (bounds->size() != 4) throw py::value_error("bounds are (left, top, right, bottom)");
    for (double v : *bounds)
      if (!std::isfinite(v)) throw py::value_error("bounds must be finite numbers, not " + vtnum::Shortest(v));
    box = CRect2D((*bounds)[0], (*bounds)[1], (*bounds)[2], (*bounds)[3]);
  }
  std::vector<unsigned char> entries;
  if (palette) {
    auto table = py::array_t<unsigned char, py::array::c_style | py::array::forcecast>::ensure(*palette);
    if (!table || table.ndim() != 2 || (table.shape(1) != 3 && table.shape(1) != 4))
      throw py::value_error("the palette must be an N x 3 or N x 4 array of 0 to 255");
    for (py::ssize_t i = 0; i < table.shape(0); ++i)
      entries.insert(entries.end(), {table.at(i, 0), table.at(i, 1), table.at(i, 2), 255});
  }
  const Options options = OptionsOf(kwargs);
  const std::string driverName = driver.value_or("");
  py::gil_scoped_release unlocked;
  WriteArray(path, driverName, options, image, box, entries);
}

py::list Formats() {
  py::list list;
  for (const RasterDriver* d : Drivers()) {
    py::dict entry;
    entry["name"] = d->Name();
    entry["read"] = d->CanRead();
    entry["write"] = d->CanWrite();
    entry["extensions"] = d->Extensions();
    list.append(entry);
  }
  return list;
}

// E00 lines, of no declared character set, as escaped text or as bytes.
std::string LineBytes(py::handle item) {
  if (py::isinstance<py::bytes>(item)) return item.cast<std::string>();
  if (!py::isinstance<py::str>(item)) throw py::type_error("E00 lines are str or bytes");
  return EscapedBytes(item);
}

// The plain lines of an E00 set, across its volumes, compressed or not.
// One line at a time, copied out before the next read, so that an iterator
// shared by threads hands each line out once and whole.
class E00Lines {
 public:
  explicit E00Lines(const std::string& path) : path_(CheckedPath(path)) {
    CString name(path);
    py::gil_scoped_release unlocked;
    if (!e00_.Open(name)) {
      const CString reason = CVtE00::GetLastFailure();
      throw ArrayError(path + ": " + (reason.IsEmpty() ? "cannot be opened as E00" : reason.str()));
    }
  }
  py::str Next() {
    std::string line, message;
    bool got = false, failed = false;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      VtGetErrorMsgObj()->Clear();
      if (const char* text = e00_.IsOpen() ? e00_.ReadNextLine() : nullptr) {
        line = text;
        got = true;
      } else {
        failed = VtGetErrorMsgObj()->HasMessage();
        if (failed) message = VtGetErrorMsgObj()->GetMessage().str();
        e00_.Close();
      }
    }
    if (got) return EscapedText(line);
    if (failed) throw ArrayError(path_ + ": " + message);
    throw py::stop_iteration();
  }
  void Close() {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    e00_.Close();
  }

 private:
  std::string path_;
  std::mutex mutex_;
  CVtE00 e00_;
};

CVtE00::E00CompreeLevel LevelOf(const std::string& text) {
  if (text == "none") return CVtE00::E00ComprNone;
  if (text == "partial") return CVtE00::E00ComprPartial;
  if (text == "full") return CVtE00::E00ComprFull;
  throw py::value_error("level is none, partial or full, not " + text);
}

std::string LastMessage(const char* fallback) {
  CVtErrorMsg* msg = VtGetErrorMsgObj();
  return msg->HasMessage() && !msg->GetMessage().IsEmpty() ? msg->GetMessage().str() : fallback;
}

// Writes `lines` (any iterable of text) as an E00 set at `level`.
void WriteE00(const std::string& path, py::iterable lines, const std::string& level) {
  CheckedPath(path);
  const CVtE00::E00CompreeLevel compression = LevelOf(level);
  CVtE00 writer;
  CString name(path);
  VtGetErrorMsgObj()->Clear();
  if (!writer.Create(name, compression)) throw ArrayError(path + ": " + LastMessage("cannot be created"));
  try {
    for (py::handle item : lines) {
      const std::string line = LineBytes(item);
      if (line.find_first_of("\r\n") != std::string::npos) throw py::value_error("an E00 line holds no line break");
      if (!writer.WriteNextLine(line.c_str())) throw ArrayError(path + ": " + LastMessage("write failed"));
    }
    writer.Close();
    if (VtGetErrorMsgObj()->HasMessage()) throw ArrayError(path + ": " + LastMessage("write failed"));
  } catch (...) {
    writer.Close();
    RemovePartialFile(path);
    throw;
  }
}

py::bytes ConvertText(const py::bytes& data, const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) throw py::value_error("empty character-set name");
  const CString fromName(from), toName(to);
  CVtTextCodec codec;
  if (!codec.Open(toName, fromName))
    throw py::value_error("iconv cannot convert from " + fromName.str() + " to " + toName.str());
  const std::string input = data;
  std::string output;
  std::string failure;
  {
    py::gil_scoped_release unlocked;
    // Pieces of at most 1 MiB: the codec counts in int.
    constexpr size_t kPiece = 1 << 20;
    codec.BeginStream();
    size_t offset = 0;
    CString converted;
    while (failure.empty()) {
      const size_t length = std::min(kPiece, input.size() - offset);
      const bool last = offset + length == input.size();
      int used = 0;
      const bool ok = codec.ConvertPiece(converted, input.data() + offset, static_cast<int>(length), last, used);
      output.append(converted.GetString(), static_cast<size_t>(converted.GetLength()));
      if (!ok)
        failure = "cannot convert from " + fromName.str() + " to " + toName.str() + " at byte " +
                  std::to_string(offset + static_cast<size_t>(used)) +
                  ": invalid input, a character cut short, or one " + toName.str() + " cannot hold";
      else if (last)
        break;
      // An incomplete sequence at the end of a piece starts the next one.
      offset += static_cast<size_t>(used);
      if (used == 0 && !last) failure = "a character longer than a piece at byte " + std::to_string(offset);
    }
  }
  if (!failure.empty()) throw ArrayError(failure);
  return py::bytes(output);
}

}  // namespace

PYBIND11_MODULE(_vtfmt, m) {
  m.doc() = "The compiled part of vtfmt: raster drivers, E00 and character sets.";
  static py::exception<ArrayError> error(m, "Error");
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const ArrayError& e) {
      SetEscapedError(error.ptr(), e.what());
    } catch (const ArrayArgumentError& e) {
      SetEscapedError(PyExc_ValueError, e.what());
    } catch (const CFileException& e) {
      SetEscapedError(error.ptr(), e.what());
    }
  });

  py::class_<Reader, std::shared_ptr<Reader>>(m, "Reader")
      .def_property_readonly("driver", [](Reader& r) { return r.Info().driver; })
      .def_property_readonly("width", [](Reader& r) { return r.Info().width; })
      .def_property_readonly("height", [](Reader& r) { return r.Info().height; })
      .def_property_readonly("bands", [](Reader& r) { return r.Info().bands; })
      .def_property_readonly("dtype", [](Reader& r) { return DtypeOf(r.Info().type); })
      .def_property_readonly("pixel_format", [](Reader& r) { return r.Info().pixelFormat; })
      .def_property_readonly("row_order",
                             [](Reader& r) { return std::string(r.Info().bottomUp ? "bottom-up" : "top-down"); })
      .def_property_readonly("bounds",
                             [](Reader& r) -> py::object {
                               const auto& b = r.Info().bounds;
                               if (!b) return py::none();
                               return py::make_tuple(b->left, b->top, b->right, b->bottom);
                             })
      .def_property_readonly("nodata",
                             [](Reader& r) -> py::object {
                               const auto& v = r.Info().noData;
                               return v ? py::object(py::float_(*v)) : py::none();
                             })
      .def_property_readonly("palette",
                             [](Reader& r) -> py::object {
                               const std::vector<unsigned char>& p = r.Info().palette;
                               if (p.empty()) return py::none();
                               py::array_t<unsigned char> table({static_cast<py::ssize_t>(p.size() / 4), py::ssize_t{4}});
                               std::memcpy(table.mutable_data(), p.data(), p.size());
                               return std::move(table);
                             })
      .def("_read", [](Reader& r, long long start, long long stop) { return r.Read(start, stop, false); })
      .def("_rows", [](std::shared_ptr<Reader> r) { return RowIterator(std::move(r)); })
      .def("close", &Reader::Close);

  py::class_<RowIterator>(m, "RowIterator")
      .def("__iter__", [](RowIterator& it) -> RowIterator& { return it; }, py::return_value_policy::reference_internal)
      .def("__next__", &RowIterator::Next);

  m.def("_open", &Open, py::arg("path"), py::arg("driver") = py::none());
  m.def("_write", &Write, py::arg("path"), py::arg("array"), py::arg("driver") = py::none(),
        py::arg("bounds") = py::none(), py::arg("palette") = py::none());
  m.def("formats", &Formats, "The drivers, in the order `vtfmt formats` lists them.");

  py::class_<E00Lines>(m, "E00Lines")
      .def("__iter__", [](E00Lines& e) -> E00Lines& { return e; }, py::return_value_policy::reference_internal)
      .def("__next__", &E00Lines::Next)
      .def("__enter__", [](E00Lines& e) -> E00Lines& { return e; }, py::return_value_policy::reference_internal)
      .def("__exit__", [](E00Lines& e, py::args) { e.Close(); })
      .def("close", &E00Lines::Close);
  m.def("_e00_open", [](const std::string& path) { return std::make_unique<E00Lines>(path); });
  m.def("_e00_write", &WriteE00, py::arg("path"), py::arg("lines"), py::arg("level") = "full");
  m.def("_text_convert", &ConvertText, py::arg("data"), py::arg("from_"), py::arg("to"));
}
