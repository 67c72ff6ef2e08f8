// vtfmt._gml: GML conversion for the Python module, in a module of its own
// because it links the geodata library (OGR), which rasters do not need.
#include <gdal_priv.h>
#include <pybind11/pybind11.h>

#include <mutex>
#include <string>

#include "EscapedText.h"
#include "access/ogr/GmlConvert.h"

namespace py = pybind11;
using namespace vtfmt::gml;

namespace {

struct GmlError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <class Convert>
py::tuple Run(Convert convert) {
  static std::once_flag registered;
  Counts counts;
  {
    py::gil_scoped_release unlocked;
    std::call_once(registered, [] { GDALAllRegister(); });
    Progress quiet(false);
    try {
      counts = convert(quiet);
    } catch (const Failure& f) {
      if (f.code == 2) throw std::invalid_argument(f.text);
      throw GmlError(f.text);
    }
  }
  return py::make_tuple(counts.layers, counts.features);
}

}  // namespace

PYBIND11_MODULE(_gml, m) {
  m.doc() = "GML conversion through OGR.";
  // Failures are vtfmt.Error, the package's one exception type.
  static py::object error = py::module_::import("vtfmt._vtfmt").attr("Error");
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const GmlError& e) {
      vtfmt::SetEscapedError(error.ptr(), e.what());
    }
  });
  m.def("export", [](const std::string& source, const std::string& target, int charset) {
    return Run([&](Progress& progress) { return Export(source, target, charset, progress); });
  });
  m.def("import_", [](const std::string& source, const std::string& target, const std::string& driver) {
    return Run([&](Progress& progress) { return Import(source, target, driver, progress); });
  });
}
