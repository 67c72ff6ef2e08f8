// An XML document read through expat into a stack of element handlers, or
// written tag by tag. Reading runs in steps (ParseOneBuffer) so that callers
// can consume results as they come; memory stays constant whatever the size
// of the file, apart from what the handlers keep.
#pragma once

#include <expat.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "xml/XMLIO_Element.h"
#include "xml/XMLIO_Encoding.h"
#include "xml/XMLIO_NameTable.h"

class XMLIO_Document : public XMLIO_Element {
 public:
  // Bytes read and parsed per ParseOneBuffer step unless set otherwise.
  static constexpr size_t kReadStep = 1000;

  XMLIO_Document();
  XMLIO_Document(const XMLIO_Document&) = delete;
  XMLIO_Document& operator=(const XMLIO_Document&) = delete;
  ~XMLIO_Document() override;

  // Mode "r" reads, "w" writes (and writes the prolog). 0, or -1 with a message.
  int open(const std::string& path, const std::string& mode);
  // The same on a stream that stays the caller's.
  int open(FILE* stream, const std::string& mode);
  int close();
  int flush();

  // Prepares the parser; -1 unless open for reading.
  int readDocument();
  // One step of parsing; true while more input may follow. Handler events run
  // inside. False at the end, on a read error or on malformed XML (with a
  // message on standard error; errorText() keeps it).
  bool ParseOneBuffer();
  // Bytes per step (at least 1).
  void setReadStep(size_t bytes) { readStep = bytes ? bytes : 1; }
  // Why the last parse stopped early; empty when it did not.
  const std::string& errorText() const { return lastError; }
  // The iconv name of the encoding handlers receive text in when the
  // document's own is one the parser does not decode itself (GB18030 for
  // GB2312); empty when they receive UTF-8.
  const std::string& textEncoding() const { return transcoder.encoding(); }
  // Characters of the document that its own encoding cannot hold (character
  // references) and that handlers received as "?", so far.
  long long textSubstitutions() const { return transcoder.substitutions(); }

  // Output; nothing is escaped. Each returns the characters written, or a
  // negative value when the stream failed.
  int write(const char* text);
  int write(const std::string& text);
  int write(const std::ostringstream& text);
  int writef(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int writeEndl();
  int writeIndent();
  int writeEndlIndent();
  void setIndent(int level);
  void changeIndent(int delta) { setIndent(indentLevel + delta); }
  int writeStartTag(const std::string& tagName);
  int writeStartTag(const std::string& tagName, const XMLIO_Attributes& tagAttributes);
  int writeEmptyElement(const std::string& tagName);
  int writeEmptyElement(const std::string& tagName, const XMLIO_Attributes& tagAttributes);
  int writeEndTag(const std::string& tagName);
  int writeCDSect(const std::string& text);
  int writeComment(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The element's tags around its content, laid out by its layoutMode.
  int writeElement(XMLIO_Element& element);

  virtual int XMLIO_writeProlog();
  virtual int XMLIO_writeXMLDeclaration();
  virtual int XMLIO_writeDocTypeDeclaration();
  virtual int XMLIO_writeTrailer();

  std::string toString() const override;

  // 0 closed, 1 reading, 2 writing.
  int getMode() const { return mode; }
  const std::string& getFileName() const { return fileName; }
  int getIndentLevel() const { return indentLevel; }
  const char* getIndentText() const { return indentText; }
  // Bytes of the stream read so far; -1 when closed.
  long long getPosition() const { return file ? static_cast<long long>(ftello(file)) : -1; }
  // Handlers of the enclosing elements (not counting the current one).
  size_t getDepth() const { return handlerStack.size(); }

 private:
  static void XMLCALL onStart(void* data, const XML_Char* tag, const XML_Char** pairs);
  static void XMLCALL onEnd(void* data, const XML_Char* tag);
  static void XMLCALL onCharacters(void* data, const XML_Char* text, int length);
  static void XMLCALL onComment(void* data, const XML_Char* text);
  static void XMLCALL onProcessingInstruction(void* data, const XML_Char* target, const XML_Char* pi);
  static int XMLCALL onUnknownEncoding(void* data, const XML_Char* encoding, XML_Encoding* info);

  int openMode(const std::string& modeText, bool onStream, const std::string& path);
  void deliverPendingText() {
    if (!pendingText.empty()) deliverText();
  }
  void deliverText();
  // A name or value from expat, through the transcoder when one is open.
  void decode(const char* text, std::string& out);
  // The decoded name of an element starting at `depth`: the document's stored
  // copy, or one decoded for this element when the name table is full.
  const std::string& elementName(const char* tag, size_t depth);
  // Makes `handler` current and notes whether it takes character data.
  void setCurrent(XMLIO_Element* handler);
  void startElement(const XML_Char* tag, const XML_Char** pairs);
  void endElement(const XML_Char* tag);
  void push(XMLIO_Element* handler);
  XMLIO_Element* pop();
  // Deletes a handler the framework owns unless it is still on the stack.
  void release(XMLIO_Element* handler);
  void stopParser(const std::string& why);
  void releaseHandlers();
  // "<name ", the attributes, then `end`.
  int writeTagWith(const std::string& tagName, const XMLIO_Attributes& tagAttributes, const char* end);
  int writeAttributes(const XMLIO_Attributes& tagAttributes);
  int writeAttribute(const std::string& attributeName, const std::string& value);
  int writeBytes(const char* bytes, size_t length);

  std::string pendingText;
  XMLIO_Element* currentHandler = nullptr;
  std::vector<XMLIO_Element*> handlerStack;
  const char* indentText;
  std::string fileName;
  XML_Parser parser = nullptr;
  FILE* file = nullptr;
  int mode = 0;
  int borrowedStream = 0;
  int indentLevel = 0;
  char indentBuffer[101];
  size_t readStep = kReadStep;
  XMLIO_Transcoder transcoder;
  std::string lastError;
  std::string nameBuffer;  // a name decoded outside the name table, reused
  XMLIO_Attributes attributeMap;  // the attributes handed to a handler, reused
  XMLIO_NameTable names;  // the names of the document being read
  std::vector<const std::string*> openNames;  // names of the open elements
  std::deque<std::string> spillNames;  // per depth, names the table could not keep
  // Whether the current handler takes character data; text for one that
  // does not is dropped as it comes instead of gathered.
  bool textWanted = true;
  bool parsing = false;         // inside XML_ParseBuffer
  bool closeRequested = false;  // close() called by a handler
  bool aborted = false;         // a handler threw; events are ignored
  bool parseEnded = false;
};
