// Bytes of no declared character set (E00 lines, file names) as Python
// text and back: UTF-8, with any other byte kept as a lone surrogate
// (Python's "surrogateescape", as os.fsdecode gives file names), so that
// every byte comes back unchanged.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace vtfmt {

inline pybind11::str EscapedText(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (!text) throw pybind11::error_already_set();
  return pybind11::reinterpret_steal<pybind11::str>(text);
}

inline std::string EscapedBytes(pybind11::handle text) {
  PyObject* bytes = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
  if (!bytes) throw pybind11::error_already_set();
  return pybind11::reinterpret_steal<pybind11::bytes>(bytes).cast<std::string>();
}

// Raises `type` with `message` as escaped text: from an exception
// translator, which must not throw.
inline void SetEscapedError(PyObject* type, const std::string& message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "surrogateescape");
  if (!text) return;  // the decoding error stands
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

}  // namespace vtfmt
