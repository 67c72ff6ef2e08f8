// Element handlers that write every event they receive into one trace, for
// tests of how a document routes parser events. What each handler returns
// for a child depends on the child's name: "self..." claims it itself,
// "skip..." is left to the document (ignored), anything else gets a new
// handler that the document deletes at its end; "throw" throws.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "xml/XMLIO_Document.h"

struct XmlTrace {
  std::string events;
  int live = 0;  // handlers alive now
};

class TraceHandler : public XMLIO_Element {
 public:
  TraceHandler(XmlTrace& trace, const std::string& label) : trace_(trace), label_(label) { ++trace_.live; }
  ~TraceHandler() override { --trace_.live; }

  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes& attrs) override {
    std::string a;
    for (const auto& kv : attrs) a += " " + kv.first + "=" + kv.second;
    trace_.events += label_ + ".start(" + tag + a + ")";
    if (tag == "throw") throw std::runtime_error("boom");
    if (tag.compare(0, 4, "self") == 0) return this;
    if (tag.compare(0, 4, "skip") == 0) return nullptr;
    return new TraceHandler(trace_, tag);
  }
  void XMLIO_endTag(const std::string& tag) override { trace_.events += label_ + ".end(" + tag + ")"; }
  void XMLIO_getCharacters(const std::string& text) override { trace_.events += label_ + ".text(" + text + ")"; }
  void XMLIO_getComment(const std::string& text) override { trace_.events += label_ + ".comment(" + text + ")"; }
  void XMLIO_finishedReading() override { trace_.events += label_ + ".done"; }
  bool XMLIO_remove() override { return true; }

 private:
  XmlTrace& trace_;
  std::string label_;
};

// A document whose root element gets a trace handler.
class TraceDocument : public XMLIO_Document {
 public:
  explicit TraceDocument(XmlTrace& trace) : trace_(trace) {}
  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) override {
    return new TraceHandler(trace_, tag);
  }

 private:
  XmlTrace& trace_;
};

// Parses `bytes` from a memory stream, `step` bytes at a time; true when the
// whole document parsed.
inline bool ParseBytes(XMLIO_Document& doc, const std::string& bytes, size_t step) {
  FILE* stream = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  if (!stream) return false;
  bool ok = doc.open(stream, "r") == 0 && doc.readDocument() == 0;
  doc.setReadStep(step);
  while (ok && doc.ParseOneBuffer()) {
  }
  ok = ok && doc.errorText().empty();
  doc.close();
  std::fclose(stream);
  return ok;
}
