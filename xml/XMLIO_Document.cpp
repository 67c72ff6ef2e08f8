#include "xml/XMLIO_Document.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <unordered_set>

#include "xml/XMLIO_IgnoreElement.h"

namespace {

// Whether `handler` replaces the element's default text hook, which drops the
// text. Read from the handler's virtual table where the C++ ABI lays it out
// as the Itanium ABI does (GCC and Clang on x86 and x86-64); elsewhere every
// handler is taken to want text.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GXX_ABI_VERSION)
using TextHook = void (XMLIO_Element::*)(const std::string&);

// The byte offset of the text hook in a virtual table.
uintptr_t TextHookOffset() {
  struct HookBits {
    uintptr_t function;  // a virtual function: 1 + its byte offset in the table
    ptrdiff_t adjust;
  };
  static_assert(sizeof(TextHook) == sizeof(HookBits), "unexpected member pointer layout");
  TextHook hook = &XMLIO_Element::XMLIO_getCharacters;
  HookBits bits;
  std::memcpy(&bits, &hook, sizeof bits);
  return (bits.function & 1) ? bits.function - 1 : UINTPTR_MAX;
}

const void* TextHookOf(const XMLIO_Element* handler, uintptr_t offset) {
  const char* table = *reinterpret_cast<const char* const*>(handler);
  return *reinterpret_cast<const void* const*>(table + offset);
}

const uintptr_t kTextHookOffset = TextHookOffset();
const void* const kDefaultTextHook = [] {
  static const XMLIO_Element plain;
  return kTextHookOffset == UINTPTR_MAX ? nullptr : TextHookOf(&plain, kTextHookOffset);
}();

inline bool TakesText(const XMLIO_Element* handler) {
  return !handler || kTextHookOffset == UINTPTR_MAX || TextHookOf(handler, kTextHookOffset) != kDefaultTextHook;
}
#else
inline bool TakesText(const XMLIO_Element*) { return true; }
#endif

}  // namespace

XMLIO_Document::XMLIO_Document() {
  name = "XMLIO_Element";
  std::memset(indentBuffer, ' ', 100);
  indentBuffer[100] = '\0';
  indentText = indentBuffer + 100;
}

XMLIO_Document::~XMLIO_Document() { close(); }

std::string XMLIO_Document::toString() const { return "XMLIO_Document"; }

int XMLIO_Document::open(const std::string& path, const std::string& modeText) {
  return openMode(modeText, false, path);
}

int XMLIO_Document::open(FILE* stream, const std::string& modeText) {
  close();
  if (modeText != "r" && modeText != "w") {
    std::fprintf(stderr, "%s::open() Do not understand access mode '%s'.\n", toString().c_str(), modeText.c_str());
    return -1;
  }
  if (!stream) return -1;
  file = stream;
  return openMode(modeText, true, std::string());
}

int XMLIO_Document::openMode(const std::string& modeText, bool onStream, const std::string& path) {
  if (!onStream) {
    close();
    fileName = path;
    if (modeText != "r" && modeText != "w") {
      std::fprintf(stderr, "%s::open() Do not understand access mode %s.\n", toString().c_str(), modeText.c_str());
      fileName.clear();
      return -1;
    }
    file = std::fopen(path.c_str(), modeText.c_str());
    if (!file) {
      std::fprintf(stderr, "%s::open() Could not open file %s for %s. %s\n", toString().c_str(), path.c_str(),
                   modeText == "r" ? "reading" : "writing", std::strerror(errno));
      fileName.clear();
      return -1;
    }
  }
  borrowedStream = onStream ? 1 : 0;
  setIndent(0);
  lastError.clear();
  if (modeText == "r") {
    setCurrent(this);
    push(this);
    mode = 1;
    return 0;
  }
  mode = 2;
  XMLIO_writeProlog();
  return 0;
}

int XMLIO_Document::close() {
  if (parsing) {
    // Called from a handler: the parser is still on the call stack, so the
    // document closes once the current step returns.
    closeRequested = true;
    XML_StopParser(parser, XML_FALSE);
    return 0;
  }
  int result = 0;
  if (mode == 1) {
    releaseHandlers();
    pendingText.clear();
    openNames.clear();
    names.clear();
    spillNames.clear();
  } else if (mode == 2) {
    XMLIO_writeTrailer();
  }
  if (file) {
    if (std::ferror(file)) result = -1;
    if (!borrowedStream) {
      if (std::fclose(file) != 0) result = -1;
    }
    file = nullptr;
  }
  if (parser) XML_ParserFree(parser);
  parser = nullptr;
  parseEnded = false;
  closeRequested = false;
  aborted = false;
  mode = 0;
  borrowedStream = 0;
  fileName.clear();
  transcoder.close();
  return result;
}

int XMLIO_Document::flush() {
  if (mode != 2 || !file) return 0;
  return std::fflush(file) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------- reading

int XMLIO_Document::readDocument() {
  if (mode != 1) return -1;
  if (parser) XML_ParserFree(parser);
  parser = XML_ParserCreate(nullptr);
  if (!parser) return -1;
  parseEnded = false;
  aborted = false;
  lastError.clear();
  // Names decode by the document's encoding, which the next parse may change.
  names.clear();
  openNames.clear();
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, onStart, onEnd);
  XML_SetCharacterDataHandler(parser, onCharacters);
  XML_SetCommentHandler(parser, onComment);
  XML_SetProcessingInstructionHandler(parser, onProcessingInstruction);
  XML_SetUnknownEncodingHandler(parser, onUnknownEncoding, this);
  return 0;
}

bool XMLIO_Document::ParseOneBuffer() {
  if (!parser || mode != 1 || parseEnded) return false;
  void* buffer = XML_GetBuffer(parser, static_cast<int>(readStep));
  if (!buffer) {
    parseEnded = true;
    return false;
  }
  size_t got = std::fread(buffer, 1, readStep, file);
  if (std::ferror(file)) {
    std::fputs("An error occured while reading...\n", stderr);
    lastError = "read error";
    parseEnded = true;
    return false;
  }
  parsing = true;
  XML_Status status = XML_ParseBuffer(parser, static_cast<int>(got), got == 0);
  parsing = false;
  if (closeRequested) {
    close();
    return false;
  }
  if (status != XML_STATUS_OK) {
    if (lastError.empty()) lastError = XML_ErrorString(XML_GetErrorCode(parser));
    std::fprintf(stderr, "An error occured while parsing...\n%s\n", lastError.c_str());
    lastError += " (line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                 std::to_string(XML_GetCurrentColumnNumber(parser)) + ")";
    parseEnded = true;
    return false;
  }
  if (got == 0) parseEnded = true;
  return got > 0;
}

void XMLIO_Document::stopParser(const std::string& why) {
  if (lastError.empty()) lastError = why;
  aborted = true;
  XML_StopParser(parser, XML_FALSE);
}

void XMLIO_Document::push(XMLIO_Element* handler) {
  handlerStack.push_back(handler);
  ++handler->stackUses;
}

XMLIO_Element* XMLIO_Document::pop() {
  XMLIO_Element* top = handlerStack.back();
  handlerStack.pop_back();
  --top->stackUses;
  return top;
}

void XMLIO_Document::deliverText() {
  if (transcoder.isOpen()) {
    std::string text = transcoder.convert(pendingText);
    pendingText.clear();
    currentHandler->XMLIO_getCharacters(text);
    return;
  }
  // The handler may read the text only during the call; the buffer keeps its
  // capacity for the next run.
  struct Clear {
    std::string& text;
    ~Clear() { text.clear(); }
  } clear{pendingText};
  currentHandler->XMLIO_getCharacters(pendingText);
}

void XMLIO_Document::decode(const char* text, std::string& out) {
  const size_t length = std::strlen(text);
  if (transcoder.isOpen()) {
    out = transcoder.convert(text, length);
    return;
  }
  // Within the string's capacity this is a plain copy.
  out.assign(text, length);
}

void XMLIO_Document::setCurrent(XMLIO_Element* handler) {
  currentHandler = handler;
  textWanted = TakesText(handler);
}

const std::string& XMLIO_Document::elementName(const char* tag, size_t depth) {
  if (const std::string* stored = names.intern(tag, transcoder)) return *stored;
  while (spillNames.size() <= depth) spillNames.emplace_back();
  decode(tag, spillNames[depth]);
  return spillNames[depth];
}

void XMLIO_Document::startElement(const XML_Char* tag, const XML_Char** pairs) {
  deliverPendingText();
  // The store lives for this call only; its strings are kept for the next
  // element instead of freed.
  attributeMap.clear();
  for (const XML_Char** p = pairs; p[0]; p += 2) {
    XMLIO_Attributes::value_type& entry = attributeMap.appendUnsorted();
    if (const std::string* stored = names.intern(p[0], transcoder))
      entry.first = *stored;
    else
      decode(p[0], entry.first);
    decode(p[1], entry.second);
  }
  // In name order; a repeated name keeps the last value.
  attributeMap.settle();
  const std::string& tagName = elementName(tag, openNames.size());
  XMLIO_Element* next = currentHandler->XMLIO_startTag(tagName, attributeMap);
  std::unique_ptr<XMLIO_Element> ignore;
  if (!next) {
    ignore.reset(new XMLIO_IgnoreElement);
    next = ignore.get();
  }
  openNames.push_back(&tagName);
  push(currentHandler);
  setCurrent(next);
  ignore.release();
}

void XMLIO_Document::endElement(const XML_Char* tag) {
  deliverPendingText();
  const std::string* tagName = nullptr;
  if (!openNames.empty()) {
    tagName = openNames.back();
    openNames.pop_back();
  }
  if (handlerStack.empty()) return;
  XMLIO_Element* ended = currentHandler;
  XMLIO_Element* parent = handlerStack.back();
  bool ownElement = parent != ended;
  if (ownElement) ended->XMLIO_finishedReading();
  pop();
  setCurrent(parent);
  // A handler that claimed its own child stays current; one made for this
  // element goes unless an enclosing element still has it on the stack.
  if (ownElement && ended != this && ended->stackUses == 0 && ended->XMLIO_remove()) delete ended;
  if (!tagName) {
    decode(tag, nameBuffer);
    tagName = &nameBuffer;
  }
  parent->XMLIO_endTag(*tagName);
}

void XMLIO_Document::releaseHandlers() {
  std::unordered_set<XMLIO_Element*> seen;
  auto drop = [&](XMLIO_Element* handler) {
    if (!handler || handler == this || !seen.insert(handler).second) return;
    if (handler->XMLIO_remove()) delete handler;
  };
  for (XMLIO_Element* handler : handlerStack) handler->stackUses = 0;
  drop(currentHandler);
  setCurrent(nullptr);
  while (!handlerStack.empty()) {
    drop(handlerStack.back());
    handlerStack.pop_back();
  }
}

// Handlers may throw; an exception must not cross expat's C frames, so it
// stops the parse and becomes the parse's error.
#define XMLIO_GUARD(body)                                                  \
  auto* doc = static_cast<XMLIO_Document*>(data);                          \
  if (doc->aborted) return;                                                \
  try {                                                                    \
    body;                                                                  \
  } catch (const std::exception& e) {                                      \
    doc->stopParser(std::string("a handler failed: ") + e.what());         \
  } catch (...) {                                                          \
    doc->stopParser("a handler failed");                                   \
  }

void XMLCALL XMLIO_Document::onStart(void* data, const XML_Char* tag, const XML_Char** pairs) {
  XMLIO_GUARD(doc->startElement(tag, pairs))
}

void XMLCALL XMLIO_Document::onEnd(void* data, const XML_Char* tag) { XMLIO_GUARD(doc->endElement(tag)) }

void XMLCALL XMLIO_Document::onCharacters(void* data, const XML_Char* text, int length) {
  XMLIO_GUARD(if (doc->textWanted) doc->pendingText.append(text, static_cast<size_t>(length)))
}

void XMLCALL XMLIO_Document::onComment(void* data, const XML_Char* text) {
  XMLIO_GUARD(doc->currentHandler->XMLIO_getComment(text))
}

void XMLCALL XMLIO_Document::onProcessingInstruction(void* data, const XML_Char* target, const XML_Char* pi) {
  XMLIO_GUARD(doc->currentHandler->XMLIO_getProcessingInstruction(target, pi))
}

#undef XMLIO_GUARD

int XMLCALL XMLIO_Document::onUnknownEncoding(void* data, const XML_Char* encoding, XML_Encoding* info) {
  auto* doc = static_cast<XMLIO_Document*>(data);
  // Handlers receive text in the document's own encoding: expat decodes it to
  // UTF-8 through the description, the transcoder turns it back.
  if (!doc->transcoder.open(encoding) || XMLIO_describeEncoding(encoding, info) != XML_STATUS_OK) {
    doc->transcoder.close();
    doc->lastError = std::string("unknown encoding: cannot decode \"") + encoding + "\"";
    return XML_STATUS_ERROR;
  }
  return XML_STATUS_OK;
}

// ---------------------------------------------------------------- writing

int XMLIO_Document::writeBytes(const char* bytes, size_t length) {
  if (!file) return -1;
  if (length && std::fwrite(bytes, 1, length, file) != length) return -1;
  return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

int XMLIO_Document::write(const char* text) { return text ? writeBytes(text, std::strlen(text)) : 0; }

int XMLIO_Document::write(const std::string& text) { return writeBytes(text.data(), text.size()); }

int XMLIO_Document::write(const std::ostringstream& text) { return write(text.str()); }

int XMLIO_Document::writef(const char* format, ...) {
  if (!file) return -1;
  va_list args;
  va_start(args, format);
  int n = std::vfprintf(file, format, args);
  va_end(args);
  return n;
}

int XMLIO_Document::writeEndl() {
  // Lines are not flushed one by one: the stream's buffer goes out when it
  // fills and at the trailer, and a failed write is reported by close().
  return writeBytes("\n", 1);
}

int XMLIO_Document::writeIndent() { return write(indentText); }

int XMLIO_Document::writeEndlIndent() {
  int a = writeEndl();
  if (a < 0) return a;
  int b = writeIndent();
  return b < 0 ? b : a + b;
}

void XMLIO_Document::setIndent(int level) {
  indentLevel = level;
  int spaces = level < 0 ? 0 : level > 100 ? 100 : level;
  indentText = indentBuffer + 100 - spaces;
}

int XMLIO_Document::writeStartTag(const std::string& tagName) { return write("<" + tagName + ">"); }

int XMLIO_Document::writeStartTag(const std::string& tagName, const XMLIO_Attributes& tagAttributes) {
  return tagAttributes.empty() ? writeStartTag(tagName) : writeTagWith(tagName, tagAttributes, ">");
}

int XMLIO_Document::writeEmptyElement(const std::string& tagName) { return write("<" + tagName + "/>"); }

int XMLIO_Document::writeEmptyElement(const std::string& tagName, const XMLIO_Attributes& tagAttributes) {
  return tagAttributes.empty() ? writeEmptyElement(tagName) : writeTagWith(tagName, tagAttributes, "/>");
}

int XMLIO_Document::writeTagWith(const std::string& tagName, const XMLIO_Attributes& tagAttributes, const char* end) {
  int a = write("<" + tagName + " ");
  if (a < 0) return a;
  int b = writeAttributes(tagAttributes);
  if (b < 0) return b;
  int c = write(end);
  return c < 0 ? c : a + b + c;
}

int XMLIO_Document::writeAttributes(const XMLIO_Attributes& tagAttributes) {
  int total = 0;
  bool first = true;
  for (const auto& entry : tagAttributes) {
    if (!first) {
      int s = write(" ");
      if (s < 0) return s;
      total += s;
    }
    first = false;
    int n = writeAttribute(entry.first, entry.second);
    if (n < 0) return n;
    total += n;
  }
  return total;
}

int XMLIO_Document::writeAttribute(const std::string& attributeName, const std::string& value) {
  return write(attributeName + "=\"" + value + "\"");
}

int XMLIO_Document::writeEndTag(const std::string& tagName) { return write("</" + tagName + ">"); }

int XMLIO_Document::writeCDSect(const std::string& text) {
  // "]]>" cannot stand inside a CDATA section: it is split across two
  // sections, so the text reads back unchanged and the file stays well-formed.
  std::string body;
  body.reserve(text.size() + 12);
  size_t from = 0;
  for (size_t at; (at = text.find("]]>", from)) != std::string::npos; from = at + 2) {
    body.append(text, from, at + 2 - from);
    body += "]]><![CDATA[";
  }
  body.append(text, from, std::string::npos);
  return write("<![CDATA[" + body + "]]>");
}

int XMLIO_Document::writeComment(const char* format, ...) {
  int r = write("<!--");
  if (r < 0) return r;
  if (!file) return -1;
  va_list args;
  va_start(args, format);
  r = std::vfprintf(file, format, args);
  va_end(args);
  if (r < 0) return r;
  return write("-->");
}

int XMLIO_Document::writeElement(XMLIO_Element& element) {
  const int savedIndent = indentLevel;
  const std::string tagName = element.XMLIO_getName();
  int total = 0;
  auto add = [&](int n) {
    if (n < 0) return false;
    total += n;
    return true;
  };
  bool ok = true;
  if (element.layoutMode == 1 || element.layoutMode == 2) ok = add(writeIndent());
  if (ok && element.XMLIO_isEmpty()) {
    ok = add(writeEmptyElement(tagName, element.XMLIO_getAttributes()));
  } else if (ok) {
    ok = add(writeStartTag(tagName, element.XMLIO_getAttributes()));
    int content = ok ? element.XMLIO_writeContent(*this) : 0;
    ok = ok && add(content);
    setIndent(savedIndent);
    if (ok && element.layoutMode == 2) ok = add(writeIndent());
    if (ok) ok = add(writeEndTag(tagName));
  }
  setIndent(savedIndent);
  return ok ? total : -1;
}

int XMLIO_Document::XMLIO_writeProlog() {
  int a = XMLIO_writeXMLDeclaration();
  if (a < 0) return a;
  int b = XMLIO_writeDocTypeDeclaration();
  return b < 0 ? b : a + b;
}

int XMLIO_Document::XMLIO_writeXMLDeclaration() {
  return write("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n");
}

int XMLIO_Document::XMLIO_writeDocTypeDeclaration() { return 0; }

int XMLIO_Document::XMLIO_writeTrailer() {
  int r = writeEndl();
  int f = flush();
  return f < 0 ? f : r;
}
