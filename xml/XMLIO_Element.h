// Base of every XML element handler and of the document: a name, attributes
// and the events a handler receives while a document is read.
#pragma once

#include <string>

#include "xml/XMLIO_Attributes.h"

class XMLIO_Document;

class XMLIO_Element {
 public:
  XMLIO_Element();
  XMLIO_Element(const std::string& name, const XMLIO_Attributes& attributes);
  // Copies name, attributes and layout; a copy is on no document's stack.
  XMLIO_Element(const XMLIO_Element& other);
  XMLIO_Element& operator=(const XMLIO_Element& other);
  virtual ~XMLIO_Element();

  // The handler for a child element that starts inside this one; null lets
  // the document ignore the child and everything in it. The name and the map
  // live only for this call.
  virtual XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes);
  // A child element called `name` of this handler has ended.
  virtual void XMLIO_endTag(const std::string& name);
  // Character data inside this element, one call per run between two tags.
  virtual void XMLIO_getCharacters(const std::string& text);
  virtual void XMLIO_getComment(const std::string& text);
  virtual void XMLIO_getProcessingInstruction(const std::string& target, const std::string& data);
  // This handler's own element has ended.
  virtual void XMLIO_finishedReading();
  // Whether the document deletes this handler when its element ends or the
  // document closes. Handlers answering false belong to whoever made them.
  virtual bool XMLIO_remove();
  // Writes the element's content; the characters written, or negative on failure.
  virtual int XMLIO_writeContent(XMLIO_Document& document);
  virtual const std::string& XMLIO_getName() const;
  virtual XMLIO_Attributes& XMLIO_getAttributes();
  // Whether writeElement writes an empty-element tag.
  virtual bool XMLIO_isEmpty();
  virtual std::string toString() const;
  virtual void print();

  // 0 inline; 1 indent before the start tag; 2 also before the end tag.
  int layoutMode = 0;

 protected:
  std::string name;
  XMLIO_Attributes attributes;

 private:
  friend class XMLIO_Document;
  // How often the reading document has this handler on its stack, so that a
  // handler still needed by an enclosing element is not deleted.
  int stackUses = 0;
};
