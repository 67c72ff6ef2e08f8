#include "xml/XMLIO_StringElement.h"

#include <cstdio>

#include "xml/XMLIO_Document.h"

XMLIO_StringElement::XMLIO_StringElement() { name = "XMLIO_StringElement"; }

XMLIO_StringElement::XMLIO_StringElement(const std::string& text) : value(text) { name = "XMLIO_StringElement"; }

XMLIO_StringElement::XMLIO_StringElement(const std::string& elementName, const XMLIO_Attributes& elementAttributes)
    : XMLIO_Element(elementName, elementAttributes) {}

void XMLIO_StringElement::XMLIO_getCharacters(const std::string& text) { value += text; }

int XMLIO_StringElement::XMLIO_writeContent(XMLIO_Document& document) { return document.write(value); }

std::string XMLIO_StringElement::toString() const { return "XMLIO_StringObject"; }

void XMLIO_StringElement::print() { std::printf("%s: %s\n", toString().c_str(), value.c_str()); }
