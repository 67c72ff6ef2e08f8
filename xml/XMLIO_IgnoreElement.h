// The handler the document gives every element that no handler claims. It
// claims no children, so everything inside an ignored element is ignored, and
// the document deletes it at its end tag.
#pragma once

#include "xml/XMLIO_Element.h"

class XMLIO_IgnoreElement : public XMLIO_Element {
 public:
  bool XMLIO_remove() override { return true; }
  std::string toString() const override { return "XMLIO_IgnoreElement"; }
};
