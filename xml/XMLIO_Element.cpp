#include "xml/XMLIO_Element.h"

#include <cstdio>

XMLIO_Element::XMLIO_Element() : name("XMLIO_Element") {}

XMLIO_Element::XMLIO_Element(const std::string& elementName, const XMLIO_Attributes& elementAttributes)
    : name(elementName), attributes(elementAttributes) {}

XMLIO_Element::XMLIO_Element(const XMLIO_Element& other)
    : layoutMode(other.layoutMode), name(other.name), attributes(other.attributes) {}

XMLIO_Element& XMLIO_Element::operator=(const XMLIO_Element& other) {
  layoutMode = other.layoutMode;
  name = other.name;
  attributes = other.attributes;
  return *this;
}

XMLIO_Element::~XMLIO_Element() = default;

XMLIO_Element* XMLIO_Element::XMLIO_startTag(const std::string&, const XMLIO_Attributes&) { return nullptr; }
void XMLIO_Element::XMLIO_endTag(const std::string&) {}
void XMLIO_Element::XMLIO_getCharacters(const std::string&) {}
void XMLIO_Element::XMLIO_getComment(const std::string&) {}
void XMLIO_Element::XMLIO_getProcessingInstruction(const std::string&, const std::string&) {}
void XMLIO_Element::XMLIO_finishedReading() {}
bool XMLIO_Element::XMLIO_remove() { return false; }
int XMLIO_Element::XMLIO_writeContent(XMLIO_Document&) { return 0; }
const std::string& XMLIO_Element::XMLIO_getName() const { return name; }
XMLIO_Attributes& XMLIO_Element::XMLIO_getAttributes() { return attributes; }
bool XMLIO_Element::XMLIO_isEmpty() { return false; }
std::string XMLIO_Element::toString() const { return "XMLIO_Element"; }
void XMLIO_Element::print() { std::printf("%s\n", toString().c_str()); }
