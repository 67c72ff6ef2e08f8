#include "vector/gml/CVtGmlDocument.h"

#include <strings.h>

#include <cstring>

#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/CVtXmlToolkit.h"
#include "platform/vtelem/CElementManager.h"
#include "vector/gml/CVtVectorGML.h"

bool GmlNameIs(const std::string& name, const char* expected) { return strcasecmp(name.c_str(), expected) == 0; }

namespace {

std::string Attribute(const XMLIO_Attributes& attributes, const char* key) {
  auto it = attributes.find(key);
  return it == attributes.end() ? std::string() : it->second;
}

int DeclareCharset(int charSet) { return charSet ? charSet : CVtToolkit::GetCharset(); }

}  // namespace

// A reader turns white space in an attribute value into blanks and a
// carriage return in text into a line feed; references keep them.
namespace {
const char* EscapeOf(char c, bool attribute) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return attribute ? "&quot;" : nullptr;
    case '\t': return attribute ? "&#9;" : nullptr;
    case '\n': return attribute ? "&#10;" : nullptr;
    case '\r': return "&#13;";
    default: return nullptr;
  }
}
}  // namespace

void GmlAppendEscaped(std::string& out, const std::string& text, bool attribute) {
  // Text without a character to escape, the usual case (coordinates), goes
  // out whole after a vectorised search for each of them.
  const char* bytes = text.data();
  auto holds = [&](char c) { return std::memchr(bytes, c, text.size()) != nullptr; };
  if (!holds('&') && !holds('<') && !holds('>') && !holds('\r') &&
      !(attribute && (holds('"') || holds('\t') || holds('\n')))) {
    out += text;
    return;
  }
  // Otherwise runs of characters that need no escape go out in one piece.
  size_t from = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    const char* escaped = EscapeOf(bytes[at], attribute);
    if (!escaped) continue;
    out.append(bytes + from, at - from);
    out += escaped;
    from = at + 1;
  }
  out.append(bytes + from, text.size() - from);
}

// ------------------------------------------------------------- documents

CVtGmlDocument::CVtGmlDocument() = default;

CVtGmlDocument::~CVtGmlDocument() {
  close();
  DeleteTree();
}

void CVtGmlDocument::DeleteTree() {
  delete root;
  root = nullptr;
  collectionStarted = false;
  gmlVersion.Empty();
  recordLayerName.Empty();
}

XMLIO_Element* CVtGmlDocument::XMLIO_startTag(const std::string& name, const XMLIO_Attributes& attributes) {
  if (!GmlNameIs(name, "vtl:Veltram")) return nullptr;
  gmlVersion = CString(Attribute(attributes, "gml:version"));
  delete root;
  root = new CVtGmlRoot(this, name, attributes);
  return root;
}

int CVtGmlDocument::XMLIO_writeXMLDeclaration() { return write(CVtXmlToolkit::GetXmlHeader(DeclareCharset(charSet)).str()); }

int CVtGmlSchemaDocument::XMLIO_writeXMLDeclaration() {
  return write(CVtXmlToolkit::GetXmlHeader(DeclareCharset(charSet)).str());
}

// -------------------------------------------------------------- handlers

CVtGmlRoot::CVtGmlRoot(CVtGmlDocument* owner, const std::string& elementName, const XMLIO_Attributes& elementAttributes)
    : XMLIO_Element(elementName, elementAttributes), document(owner) {}

CVtGmlRoot::~CVtGmlRoot() {
  CVtXmlToolkit::DeleteArray(infos);
  delete collection;
}

XMLIO_Element* CVtGmlRoot::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes& attrs) {
  if (GmlNameIs(tag, "vtl:FeatureCollectionInfo")) {
    auto* info = new CVtGmlFeatureCollectionInfo;
    infos.Add(info);
    info->layerName = CString(Attribute(attrs, "Name"));
    info->layerType = CVtVectorGML::LayerTypeFromString(CString(Attribute(attrs, "Type")));
    info->subName = CString(Attribute(attrs, "SubName"));
    return info;
  }
  if (GmlNameIs(tag, "vtl:FeatureCollection")) {
    document->collectionStarted = true;
    // A second collection replaces the first (the format has one).
    delete collection;
    collection = new CVtGmlFeatureCollection;
    return collection;
  }
  return nullptr;
}

CVtGmlFeatureCollectionInfo::~CVtGmlFeatureCollectionInfo() { delete defines; }

XMLIO_Element* CVtGmlFeatureCollectionInfo::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) {
  if (!GmlNameIs(tag, "vtl:UserPorpertyDefines")) return nullptr;
  delete defines;
  defines = new CVtGmlPropertyDefines;
  return defines;
}

XMLIO_Element* CVtGmlPropertyDefines::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes& attrs) {
  if (GmlNameIs(tag, "vtl:UserPorpertyDefine")) {
    CVtGmlFieldDefine field;
    field.name = CString(Attribute(attrs, "Name"));
    field.type = CVtVectorGML::FieldTypeFromString(CString(Attribute(attrs, "Type")));
    field.size = CVtXmlToolkit::ToInt32(CString(Attribute(attrs, "Size")));
    fields.Add(field);
  }
  return nullptr;
}

CVtGmlFeatureCollection::~CVtGmlFeatureCollection() { CVtXmlToolkit::DeleteArray(members); }

XMLIO_Element* CVtGmlFeatureCollection::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) {
  if (!GmlNameIs(tag, "gml:featureMember")) return nullptr;
  auto* member = new CVtGmlFeatureMember;
  members.Add(member);
  return member;
}

CVtGmlFeatureMember::~CVtGmlFeatureMember() { delete feature; }

XMLIO_Element* CVtGmlFeatureMember::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) {
  typeName = CString(tag);
  delete feature;
  feature = new CVtGmlFeature;
  return feature;
}

CVtGmlFeature::~CVtGmlFeature() { delete geometryProperty; }

XMLIO_Element* CVtGmlFeature::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) {
  if (GmlNameIs(tag, "vtl:geometryProperty")) {
    delete geometryProperty;
    geometryProperty = new CVtGmlGeometryProperty;
    return geometryProperty;
  }
  currentField = tag;
  return this;
}

void CVtGmlFeature::XMLIO_getCharacters(const std::string& text) {
  if (currentField.empty()) return;
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return;
  size_t last = text.find_last_not_of(space);
  values[currentField].assign(text, first, last - first + 1);
}

void CVtGmlFeature::XMLIO_endTag(const std::string&) { currentField.clear(); }

XMLIO_Element* CVtGmlGeometryProperty::XMLIO_startTag(const std::string& tag, const XMLIO_Attributes& attrs) {
  text += '<';
  text += tag;
  for (const auto& entry : attrs) {
    text += ' ';
    text += entry.first;
    text += "=\"";
    // The parser delivered the value unescaped; escaped again, the rebuilt
    // text stays XML whatever the value holds.
    GmlAppendEscaped(text, entry.second, true);
    text += '"';
  }
  text += '>';
  if (geometryType == 0) geometryType = CElementManager::ParseGeoType(CString(tag));
  return this;
}

void CVtGmlGeometryProperty::XMLIO_getCharacters(const std::string& chars) { GmlAppendEscaped(text, chars, false); }

void CVtGmlGeometryProperty::XMLIO_endTag(const std::string& tag) {
  text += "</";
  text += tag;
  text += '>';
}
