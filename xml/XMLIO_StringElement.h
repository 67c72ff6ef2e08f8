// An element whose content is its text: gathers the characters it receives
// and writes them back unchanged.
#pragma once

#include <string>

#include "xml/XMLIO_Element.h"

class XMLIO_StringElement : public XMLIO_Element {
 public:
  XMLIO_StringElement();
  explicit XMLIO_StringElement(const std::string& value);
  XMLIO_StringElement(const std::string& name, const XMLIO_Attributes& attributes);

  void XMLIO_getCharacters(const std::string& text) override;
  int XMLIO_writeContent(XMLIO_Document& document) override;
  std::string toString() const override;
  void print() override;

  std::string value;
};
