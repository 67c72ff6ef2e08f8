// The GML document and the tree of element handlers that reads it: the
// root, the layer headers with their field definitions, and the feature
// collection whose members queue up as they are parsed. Handlers are owned
// by their parents (the framework never deletes them).
#pragma once

#include <map>
#include <string>

#include "platform/mfc/CArray.h"
#include "platform/mfc/CString.h"
#include "xml/XMLIO_Document.h"

class CVtGmlRoot;

// Element names are compared without regard to case.
bool GmlNameIs(const std::string& name, const char* expected);
// Appends `text` escaped for XML content, or for a quoted attribute value.
void GmlAppendEscaped(std::string& out, const std::string& text, bool attribute);

class CVtGmlDocument : public XMLIO_Document {
 public:
  CVtGmlDocument();
  ~CVtGmlDocument() override;

  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  // The platform's declaration for `charSet` (the current character set when 0).
  int XMLIO_writeXMLDeclaration() override;
  std::string toString() const override { return "CVtGmlDocument"; }

  // Deletes the handler tree of the last read.
  void DeleteTree();

  int charSet = 134;
  bool collectionStarted = false;
  CString gmlVersion;
  CVtGmlRoot* root = nullptr;
  CString recordLayerName;
};

// The schema file written beside a GML file.
class CVtGmlSchemaDocument : public XMLIO_Document {
 public:
  int XMLIO_writeXMLDeclaration() override;
  std::string toString() const override { return "CVtGmlSchemaDocument"; }
  int charSet = 0;
};

struct CVtGmlFieldDefine {
  CString name;
  int type = 0;
  int size = 0;
};

class CVtGmlPropertyDefines : public XMLIO_Element {
 public:
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  CArray<CVtGmlFieldDefine> fields;
};

class CVtGmlFeatureCollectionInfo : public XMLIO_Element {
 public:
  ~CVtGmlFeatureCollectionInfo() override;
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  CVtGmlPropertyDefines* defines = nullptr;
  CString layerName;
  int layerType = 0;
  CString subName;
};

class CVtGmlGeometryProperty : public XMLIO_Element {
 public:
  // Room for a point's or a small polygon's text without regrowing.
  CVtGmlGeometryProperty() { text.reserve(256); }
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  void XMLIO_getCharacters(const std::string& text) override;
  void XMLIO_endTag(const std::string& name) override;
  std::string text;  // the geometry's GML, rebuilt
  int geometryType = 0;
};

class CVtGmlFeature : public XMLIO_Element {
 public:
  ~CVtGmlFeature() override;
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  void XMLIO_getCharacters(const std::string& text) override;
  void XMLIO_endTag(const std::string& name) override;
  CVtGmlGeometryProperty* geometryProperty = nullptr;
  std::map<std::string, std::string> values;
  std::string currentField;
};

class CVtGmlFeatureMember : public XMLIO_Element {
 public:
  ~CVtGmlFeatureMember() override;
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  void XMLIO_finishedReading() override { done = true; }
  CString typeName;
  CVtGmlFeature* feature = nullptr;
  bool done = false;
};

class CVtGmlFeatureCollection : public XMLIO_Element {
 public:
  ~CVtGmlFeatureCollection() override;
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  CArray<CVtGmlFeatureMember*, CVtGmlFeatureMember*> members;
};

class CVtGmlRoot : public XMLIO_Element {
 public:
  CVtGmlRoot(CVtGmlDocument* owner, const std::string& name, const XMLIO_Attributes& attributes);
  ~CVtGmlRoot() override;
  XMLIO_Element* XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) override;
  CVtGmlDocument* document;
  CArray<CVtGmlFeatureCollectionInfo*, CVtGmlFeatureCollectionInfo*> infos;
  CVtGmlFeatureCollection* collection = nullptr;
};
