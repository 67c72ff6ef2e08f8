// Parses random bytes through a handler tree that, element by element,
// ignores children, claims them itself, hands them to a new handler the
// document deletes, to one its maker keeps, or to an enclosing handler,
// throws, or closes the document in the middle of an event.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "xml/XMLIO_Document.h"

namespace {

struct Plan {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  size_t next = 0;
  std::vector<std::unique_ptr<XMLIO_Element>> kept;  // handlers their maker owns
  XMLIO_Document* doc = nullptr;
  uint8_t choice() { return size ? bytes[next++ % size] : 0; }
};

class FuzzHandler : public XMLIO_Element {
 public:
  FuzzHandler(Plan& plan, FuzzHandler* parent, bool removable)
      : plan_(plan), parent_(parent), removable_(removable) {}

  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes& attrs) override {
    text_ += tag;
    for (const auto& kv : attrs) text_ += kv.first + kv.second;
    switch (plan_.choice() % 8) {
      case 0:
        return nullptr;
      case 1:
        return this;
      case 2:
        return new FuzzHandler(plan_, this, true);
      case 3:
        plan_.kept.emplace_back(new FuzzHandler(plan_, this, false));
        return plan_.kept.back().get();
      case 4:
        // An enclosing handler claims the grandchild; one made by the
        // document must survive until its own element ends.
        return parent_ ? static_cast<XMLIO_Element*>(parent_) : this;
      case 5:
        if (plan_.choice() % 16 == 0) throw std::runtime_error("handler failure");
        return new FuzzHandler(plan_, this, true);
      case 6:
        if (plan_.choice() % 16 == 0) plan_.doc->close();
        return this;
      default:
        return new FuzzHandler(plan_, this, true);
    }
  }
  void XMLIO_endTag(const std::string& tag) override { text_ += tag; }
  void XMLIO_getCharacters(const std::string& text) override {
    text_ += text;
    if (text_.size() > 4096) text_.clear();
  }
  void XMLIO_getComment(const std::string& text) override { text_ += text; }
  void XMLIO_getProcessingInstruction(const std::string& t, const std::string& d) override { text_ += t + d; }
  bool XMLIO_remove() override { return removable_; }

 private:
  Plan& plan_;
  FuzzHandler* parent_;
  bool removable_;
  std::string text_;
};

class FuzzDocument : public XMLIO_Document {
 public:
  explicit FuzzDocument(Plan& plan) : plan_(plan) {}
  XMLIO_Element* XMLIO_startTag(const std::string&, const XMLIO_Attributes&) override {
    return new FuzzHandler(plan_, nullptr, true);
  }

 private:
  Plan& plan_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // The first four bytes steer the handlers and the read step; the rest is the document.
  Plan plan;
  plan.bytes = data;
  plan.size = 3;
  const size_t step = 1 + data[3] % 64 * (data[3] & 64 ? 17 : 1);
  std::string bytes(reinterpret_cast<const char*>(data) + 4, size - 4);
  FILE* stream = fmemopen(bytes.empty() ? nullptr : &bytes[0], bytes.size(), "r");
  if (!stream) return 0;
  {
    FuzzDocument doc(plan);
    plan.doc = &doc;
    if (doc.open(stream, "r") == 0 && doc.readDocument() == 0) {
      doc.setReadStep(step);
      int steps = 0;
      // Now and then the caller closes between two steps.
      while (doc.ParseOneBuffer()) {
        if (data[2] == 0xA5 && ++steps == 3) doc.close();
      }
    }
    doc.close();
    // Handlers their maker keeps are deleted only after the document is done with them.
  }
  std::fclose(stream);
  return 0;
}
