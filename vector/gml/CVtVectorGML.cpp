#include "vector/gml/CVtVectorGML.h"

#include <strings.h>
#include <sys/stat.h>

#include <string>

#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/CVtXmlToolkit.h"
#include "platform/vtelem/CElemGeometry.h"
#include "platform/vtelem/CElementManager.h"

namespace {

const char kGmlNamespace[] = "http://www.opengis.net/gml";
const char kVtlNamespace[] = "http://www.veltram.com/gml/vtl";
const char kXsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
const char kXsNamespace[] = "http://www.w3.org/2001/XMLSchema";
const char kOgcSchemas[] = "http://schemas.opengis.net";

// "<name a="1" b="2">\n", or ending "/>\n" for an empty-element tag; the
// attributes in ascending byte order of their names.
std::string TagText(const std::string& name, const XMLIO_Attributes& attributes, bool empty) {
  std::string text = "<" + name;
  // Values are escaped so that a sub name with a quote or an ampersand
  // cannot break the file; names are valid XML names.
  for (const auto& entry : attributes) {
    text += " " + entry.first + "=\"";
    GmlAppendEscaped(text, entry.second, true);
    text += "\"";
  }
  text += empty ? "/>\n" : ">\n";
  return text;
}

void ReplaceAll(std::string& text, const char* from, const char* to) {
  const size_t fromLength = std::strlen(from), toLength = std::strlen(to);
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += toLength)
    text.replace(at, fromLength, to);
}

}  // namespace

CVtVectorGML::CVtVectorGML() = default;

CVtVectorGML::~CVtVectorGML() { Close(); }

// ------------------------------------------------------------------ texts

CString CVtVectorGML::DealContentChars(const CString& source) {
  std::string text = source.str();
  ReplaceAll(text, "<[[", "");
  ReplaceAll(text, "]]>", "");
  ReplaceAll(text, "&", "&amp;");
  ReplaceAll(text, "<", "&lt;");
  ReplaceAll(text, ">", "&gt;");
  ReplaceAll(text, "\"", "&quot;");
  ReplaceAll(text, "'", "&apos;");
  return CString(text);
}

namespace {
const struct {
  int code;
  const char* text;
} kLayerTypes[] = {{0, "Tabular"}, {1, "Point"}, {3, "Line"}, {4, "Network"}, {5, "Region"}, {7, "Text"}, {149, "CAD"}};
const struct {
  int code;
  const char* text;
} kFieldTypes[] = {{1, "xs:Boolean"},      {3, "xs:short"},  {4, "xs:int"},    {6, "xs:float"},
                   {7, "xs:double"},       {8, "xs:timeDuration"}, {9, "xs:binary"}, {10, "xs:string"}};
}  // namespace

CString CVtVectorGML::LayerTypeToString(int code) {
  for (const auto& t : kLayerTypes)
    if (t.code == code) return t.text;
  return "Unknown";
}

int CVtVectorGML::LayerTypeFromString(const CString& text) {
  for (const auto& t : kLayerTypes)
    if (strcasecmp(text.GetString(), t.text) == 0) return t.code;
  return 149;
}

CString CVtVectorGML::FieldTypeToString(int code) {
  for (const auto& t : kFieldTypes)
    if (t.code == code) return t.text;
  return CString();
}

int CVtVectorGML::FieldTypeFromString(const CString& text) {
  for (const auto& t : kFieldTypes)
    if (strcasecmp(text.GetString(), t.text) == 0) return t.code;
  return 0;
}

bool CVtVectorGML::IsXmlText(const CString& text) {
  for (unsigned char c : text.str())
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

bool CVtVectorGML::IsXmlName(const CString& name) {
  const std::string& s = name.str();
  if (s.empty()) return false;
  auto letter = [](unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; };
  if (!letter(static_cast<unsigned char>(s[0]))) return false;
  for (unsigned char c : s)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
  // Names starting "xml" in any case are reserved.
  return strncasecmp(s.c_str(), "xml", 3) != 0;
}

// ---------------------------------------------------------------- writing

bool CVtVectorGML::OpenForWrite(const CString& gmlPath) {
  Close();
  document.charSet = charSet;
  path = gmlPath;
  if (document.open(gmlPath.str(), "w") != 0) return false;
  values.RemoveAll();
  recordLayer = -1;
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(gmlPath, drive, dir, name, ext);
  XMLIO_Attributes root = {{"gml:version", "3.0.0"},
                           {"xmlns:gml", kGmlNamespace},
                           {"xmlns:vtl", kVtlNamespace},
                           {"xmlns:xsi", kXsiNamespace},
                           {"xsi:noNamespaceSchemaLocation", "./" + name.str() + ".xsd"}};
  document.write(TagText("vtl:Veltram", root, false));
  document.setIndent(3);
  return true;
}

void CVtVectorGML::SetLayerCount(int count) {
  if (count < 0) return;
  layers.resize(static_cast<size_t>(count));
  if (count == 0) layers.shrink_to_fit();
}

bool CVtVectorGML::SetLayerInfo(int index, const CString& name, int type, const CRect2D& bounds,
                                const CString& subName) {
  if (!CVtXmlToolkit::InRange(index, 0, GetLayerCount()) || !IsXmlName(name) || !IsXmlText(subName))
    return false;
  Layer& layer = layers[static_cast<size_t>(index)];
  layer.name = name;
  layer.type = type;
  layer.bounds = bounds;
  layer.subName = subName;
  return true;
}

void CVtVectorGML::SetFieldCount(int layer, int count) {
  if (!CVtXmlToolkit::InRange(layer, 0, GetLayerCount()) || count < 0) return;
  auto& fields = layers[static_cast<size_t>(layer)].fields;
  fields.resize(static_cast<size_t>(count));
  if (count == 0) fields.shrink_to_fit();
}

bool CVtVectorGML::SetFieldInfo(int layer, int field, const CString& name, int type, int size) {
  if (!CVtXmlToolkit::InRange(layer, 0, GetLayerCount())) return false;
  auto& fields = layers[static_cast<size_t>(layer)].fields;
  if (!CVtXmlToolkit::InRange(field, 0, static_cast<int>(fields.size())) || !IsXmlName(name)) return false;
  fields[static_cast<size_t>(field)] = Field{name, type, size};
  return true;
}

void CVtVectorGML::BeginWriteRecord() {
  if (document.getMode() != 2) return;
  const std::string indent = document.getIndentText();
  for (const Layer& layer : layers) {
    document.write(TagText("vtl:FeatureCollectionInfo",
                           {{"Name", layer.name.str()},
                            {"SubName", layer.subName.str()},
                            {"Type", LayerTypeToString(layer.type).str()}},
                           false));
    document.write(CVtXmlToolkit::BoundsToGML3(layer.bounds, 1).str());
    document.writeStartTag("vtl:UserPorpertyDefines");
    document.writeEndl();
    for (const Field& field : layer.fields) {
      XMLIO_Attributes attributes = {{"Name", field.name.str()}, {"Type", FieldTypeToString(field.type).str()}};
      if (field.type == 10) attributes["Size"] = std::to_string(field.size);
      document.write(indent + TagText("vtl:UserPorpertyDefine", attributes, true));
    }
    document.writeEndTag("vtl:UserPorpertyDefines");
    document.writeEndl();
    document.writeEndTag("vtl:FeatureCollectionInfo");
    document.writeEndl();
  }
  document.writeStartTag("vtl:FeatureCollection");
  document.writeEndl();
  CreateSchemaFile();
}

void CVtVectorGML::BeginWriteOneRecord() {
  // The member's start tag is written with the record, once its layer is
  // known, so a record that names no layer leaves no open element behind.
}

bool CVtVectorGML::WriteOneGeometry(CElemGeometry* recordGeometry, const CString& layerName) {
  geometry = recordGeometry;
  recordLayerName = layerName;
  recordLayer = -1;
  for (size_t i = 0; i < layers.size(); ++i) {
    if (layers[i].name.CompareNoCase(layerName) != 0) continue;
    recordLayer = static_cast<int>(i);
    int fieldCount = static_cast<int>(layers[i].fields.size());
    if (values.GetSize() < fieldCount) values.SetSize(fieldCount);
  }
  return recordLayer >= 0;
}

void CVtVectorGML::SetFieldValue(int index, const COleVariant& value) {
  if (CVtXmlToolkit::InRange(index, 0, values.GetSize())) values[index] = value;
}

bool CVtVectorGML::EndWriteOneRecord() {
  if (document.getMode() != 2 || !CVtXmlToolkit::InRange(recordLayer, 0, GetLayerCount())) {
    geometry = nullptr;
    return false;
  }
  const Layer& layer = layers[static_cast<size_t>(recordLayer)];
  const std::string indent = document.getIndentText();
  const std::string& name = recordLayerName.str();
  std::string text = "<gml:featureMember>\n" + indent + "<" + name + ">\n";
  for (size_t i = 0; i < layer.fields.size(); ++i) {
    const std::string& field = layer.fields[i].name.str();
    const CString value = CVtXmlToolkit::ToString(values[static_cast<int>(i)]);
    // A file holding such a character cannot be read at all.
    if (!IsXmlText(value)) {
      geometry = nullptr;
      return false;
    }
    std::string escaped = DealContentChars(value).str();
    // A reader turns a carriage return into a line feed; a reference keeps it.
    ReplaceAll(escaped, "\r", "&#13;");
    text += indent + indent + "<" + field + ">" + escaped + "</" + field + ">\n";
  }
  // An empty geometry has no GML: the feature is written without one.
  const CString gml = geometry ? geometry->GetGML(3) : CString();
  if (!gml.IsEmpty()) {
    text += indent + indent + "<vtl:geometryProperty>\n";
    text += gml.str();
    text += indent + indent + "</vtl:geometryProperty>\n";
  }
  geometry = nullptr;
  text += indent + "</" + name + ">\n</gml:featureMember>\n";
  return document.write(text) >= 0;
}

void CVtVectorGML::EndWriteRecord() {
  if (document.getMode() != 2) return;
  document.writeEndTag("vtl:FeatureCollection");
  document.writeEndl();
  document.writeEndTag("vtl:Veltram");
}

void CVtVectorGML::Close() {
  document.close();
  document.DeleteTree();
  geometry = nullptr;
}

// ----------------------------------------------------------------- schema

void CVtVectorGML::CreateSchemaFile() {
  schemaDocument.charSet = charSet;
  if (schemaDocument.open(CVtToolkit::ChangeExtName(path, ".xsd").str(), "w") != 0) return;
  WriteSchemaHeader();
  WriteSchemaElem_Veltram();
  WriteSchemaElem_FeatureCollectionInfo();
  WriteSchemaElem_UserPorpertyDefines();
  WriteSchemaElem_Feature();
  schemaDocument.write("</xs:schema>\n");
  schemaDocument.close();
}

void CVtVectorGML::WriteSchemaHeader() {
  XMLIO_Document& d = schemaDocument;
  d.write("<xs:schema \n");
  d.write("gml:version=\"3.0.0\"\n");
  d.write(std::string("xmlns:gml=\"") + kGmlNamespace + "\" \n");
  d.write(std::string("xmlns:vtl=\"") + kVtlNamespace + "\" \n");
  d.write(std::string("xmlns:xs=\"") + kXsNamespace + "\" \n");
  d.write("elementFormDefault=\"qualified\">\n");
  for (const char* schema :
       {"/gml/3.0.0/base/feature.xsd", "/gml/3.0.0/base/geometryComplexes.xsd", "/gml/3.0.0/base/geometryBasic0d1d.xsd"})
    d.write(std::string("   <xs:import schemaLocation=\"") + kOgcSchemas + schema + "\"/>\n");
  d.write("\n");
}

void CVtVectorGML::WriteSchemaElem_Veltram() {
  schemaDocument.write(
      "   <xs:element name=\"Veltram\">\n"
      "      <xs:complexType>\n"
      "         <xs:sequence>\n"
      "            <xs:element name=\"FeatureCollectionInfo\""
      " type=\"FeatureCollectionInfoType\" minOccurs=\"0\"  maxOccurs=\"unbounded\"/>\n"
      "            <xs:element ref=\"gml:FeatureCollection\"/>\n"
      "         </xs:sequence>\n"
      "      </xs:complexType>\n"
      "   </xs:element>\n"
      "\n");
}

void CVtVectorGML::WriteSchemaElem_FeatureCollectionInfo() {
  schemaDocument.write(
      "   <xs:complexType name=\"FeatureCollectionInfoType\">\n"
      "      <xs:sequence>\n"
      "         <xs:element name=\"UserPorpertyDefines\" type=\"UserPorpertyDefinesType\"/>\n"
      "      </xs:sequence>\n"
      "      <xs:attribute name=\"Name\" type=\"xs:string\" use=\"required\"/>\n"
      "      <xs:attribute name=\"Type\" use=\"required\">\n"
      "         <xs:simpleType>\n"
      "            <xs:restriction base=\"xs:NMTOKEN\">\n"
      "               <xs:enumeration value=\"Point\"/>\n"
      "               <xs:enumeration value=\"Line\"/>\n"
      "               <xs:enumeration value=\"Network\"/>\n"
      "               <xs:enumeration value=\"Region\"/>\n"
      "               <xs:enumeration value=\"Text\"/>\n"
      "               <xs:enumeration value=\"CAD\"/>\n"
      "               <xs:enumeration value=\"Tabular\"/>\n"
      "            </xs:restriction>\n"
      "         </xs:simpleType>\n"
      "      </xs:attribute>\n"
      "      <xs:attribute name=\"SubName\" type=\"xs:string\" use=\"optional\"/>\n"
      "   </xs:complexType>\n"
      "\n");
}

void CVtVectorGML::WriteSchemaElem_UserPorpertyDefines() {
  schemaDocument.write(
      "   <xs:complexType name=\"UserPorpertyDefinesType\">\n"
      "      <xs:sequence>\n"
      "         <xs:element name=\"UserPorpertyDefine\" type=\"vtl:UserPorpertyDefineType\" minOccurs=\"0\" "
      "maxOccurs=\"unbounded\"/>\n"
      "      </xs:sequence>\n"
      "   </xs:complexType>\n"
      "   <xs:complexType name=\"UserPorpertyDefineType\">\n"
      "      <xs:attribute name=\"Name\" type=\"xs:string\" use=\"required\"/>\n"
      "      <xs:attribute name=\"Type\" use=\"required\">\n"
      "         <xs:simpleType>\n"
      "            <xs:restriction base=\"xs:NMTOKEN\">\n"
      "               <xs:enumeration value=\"xs:string\"/>\n"
      "               <xs:enumeration value=\"xs:Boolean\"/>\n"
      "               <xs:enumeration value=\"xs:float\"/>\n"
      "               <xs:enumeration value=\"xs:short\"/>\n"
      "               <xs:enumeration value=\"xs:int\"/>\n"
      "               <xs:enumeration value=\"xs:double\"/>\n"
      "               <xs:enumeration value=\"xs:timeDuration\"/>\n"
      "               <xs:enumeration value=\"xs:binary\"/>\n"
      "            </xs:restriction>\n"
      "         </xs:simpleType>\n"
      "      </xs:attribute>\n"
      "      <xs:attribute name=\"Size\" type=\"xs:byte\"/>\n"
      "   </xs:complexType>\n"
      "\n");
}

void CVtVectorGML::WriteSchemaElem_Feature() {
  XMLIO_Document& d = schemaDocument;
  for (const Layer& layer : layers) {
    const std::string& name = layer.name.str();
    d.write("   <xs:element name=\"" + name + "\" type=\"" + name + "Type\" substitutionGroup=\"gml:_Feature\"/>\n");
    d.write("   <xs:complexType name=\"" + name + "Type\">\n");
    d.write("      <xs:sequence>\n");
    for (const Field& field : layer.fields)
      d.write("         <xs:element name=\"" + field.name.str() + "\" type=\"" + FieldTypeToString(field.type).str() +
              "\" minOccurs=\"0\"/>\n");
    d.write("         <xs:element name=\"geometryProperty\" type=\"gml:geometryPropertyType\" minOccurs=\"0\"/>\n");
    d.write("      </xs:sequence>\n");
    d.write("   </xs:complexType>\n");
    d.write("\n");
  }
}

// ---------------------------------------------------------------- reading

bool CVtVectorGML::OpenForRead(const CString& gmlPath) {
  Close();
  if (document.open(gmlPath.str(), "r") != 0) return false;
  path = gmlPath;
  struct stat st;
  if (::stat(gmlPath.GetString(), &st) == 0) fileSize = st.st_size > 0 ? static_cast<long long>(st.st_size) : 1;
  document.readDocument();
  while (!document.collectionStarted && document.ParseOneBuffer()) {
  }
  // All headers precede the collection in the format.
  if (document.collectionStarted && document.root) {
    const auto& infos = document.root->infos;
    for (int i = 0; i < infos.GetSize(); ++i) {
      const CVtGmlFeatureCollectionInfo* info = infos[i];
      Layer layer;
      layer.name = info->layerName;
      layer.type = info->layerType;
      layer.subName = info->subName;
      if (info->defines) {
        for (int f = 0; f < info->defines->fields.GetSize(); ++f) {
          const CVtGmlFieldDefine& d = info->defines->fields[f];
          layer.fields.push_back(Field{d.name, d.type, d.size});
        }
      }
      layers.push_back(std::move(layer));
    }
  }
  return document.gmlVersion.str() == "3.0.0";
}

bool CVtVectorGML::GetLayerInfo(int index, CString& name, int& type, CString& subName) const {
  if (!CVtXmlToolkit::InRange(index, 0, GetLayerCount())) return false;
  const Layer& layer = layers[static_cast<size_t>(index)];
  name = layer.name;
  type = layer.type;
  subName = layer.subName;
  return true;
}

const CRect2D* CVtVectorGML::GetLayerBounds(int index) const {
  return CVtXmlToolkit::InRange(index, 0, GetLayerCount()) ? &layers[static_cast<size_t>(index)].bounds : nullptr;
}

int CVtVectorGML::GetFieldCount(int layer) const {
  return CVtXmlToolkit::InRange(layer, 0, GetLayerCount()) ? static_cast<int>(layers[static_cast<size_t>(layer)].fields.size())
                                                           : 0;
}

bool CVtVectorGML::GetFieldInfo(int layer, int field, CString& name, int& type, int& size) const {
  if (!CVtXmlToolkit::InRange(layer, 0, GetLayerCount())) return false;
  const auto& fields = layers[static_cast<size_t>(layer)].fields;
  if (!CVtXmlToolkit::InRange(field, 0, static_cast<int>(fields.size()))) return false;
  const Field& f = fields[static_cast<size_t>(field)];
  name = f.name;
  type = f.type;
  size = f.size;
  return true;
}

CVtGmlFeatureMember* CVtVectorGML::ReadyMember() const {
  const CVtGmlRoot* root = document.root;
  if (!root || !root->collection || root->collection->members.GetSize() == 0) return nullptr;
  CVtGmlFeatureMember* first = root->collection->members[0];
  return first->done ? first : nullptr;
}

bool CVtVectorGML::ParseUntilReady() {
  while (!ReadyMember()) {
    if (!document.ParseOneBuffer()) return ReadyMember() != nullptr;
  }
  return true;
}

bool CVtVectorGML::IsEOF() { return !ParseUntilReady(); }

void CVtVectorGML::BeginReadOneRecord() { ParseUntilReady(); }

bool CVtVectorGML::ReadOneGeometry(CVtElement*& element, CString& layerName) {
  CVtGmlFeatureMember* member = ReadyMember();
  if (!member) return false;
  if (member->feature && member->feature->geometryProperty) {
    const CVtGmlGeometryProperty* property = member->feature->geometryProperty;
    CVtElement* created = nullptr;
    if (CElementManager::CreateElement(created, property->geometryType) &&
        !created->ParseGML(CString(property->text))) {
      // Text the geometry library cannot read gives no geometry rather than
      // an empty one.
      delete created;
      created = nullptr;
    }
    element = created;
  }
  layerName = member->typeName;
  document.recordLayerName = member->typeName;
  return true;
}

bool CVtVectorGML::GetFieldValue(int index, CString& value) const {
  const CVtGmlRoot* root = document.root;
  if (!root) return false;
  const CVtGmlFeatureCollectionInfo* header = nullptr;
  for (int i = 0; i < root->infos.GetSize() && !header; ++i)
    if (root->infos[i]->layerName.CompareNoCase(document.recordLayerName) == 0) header = root->infos[i];
  if (!header || !header->defines || !CVtXmlToolkit::InRange(index, 0, header->defines->fields.GetSize()))
    return false;
  const CVtGmlFeatureMember* member = ReadyMember();
  if (!member || !member->feature) return false;
  auto it = member->feature->values.find(header->defines->fields[index].name.str());
  if (it == member->feature->values.end()) return false;
  value = CString(it->second);
  return true;
}

bool CVtVectorGML::GetFieldValue(int index, COleVariant& value) const {
  CString text;
  bool found = GetFieldValue(index, text);
  value = COleVariant(text);
  return found;
}

void CVtVectorGML::EndReadOneRecord() {
  if (!ReadyMember()) return;
  auto& members = document.root->collection->members;
  delete members[0];
  members.RemoveAt(0);
}

int CVtVectorGML::GetCurrentPercent() const {
  if (document.getMode() == 0) return 0;
  long long position = document.getPosition();
  if (position <= 0) return 0;
  long long percent = static_cast<long long>(static_cast<__int128>(position) * 100 / fileSize);
  return percent > 100 ? 100 : static_cast<int>(percent);
}
