// Vector data exchanged as GML 3 in the platform's application schema (prefix
// vtl): any number of layers, each described once in a header (name, sub
// name, type, bounds, field definitions), then every feature as a
// gml:featureMember with its field values and geometry. Writing also puts an
// XML Schema beside the file; reading streams, so files of any size are read
// in bounded memory.
#pragma once

#include <vector>

#include "platform/mfc/CArray.h"
#include "platform/mfc/COleVariant.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "vector/gml/CVtGmlDocument.h"

class CElemGeometry;
class CVtElement;

class CVtVectorGML {
 public:
  struct Field {
    CString name;
    int type = 0;
    int size = 0;
  };
  struct Layer {
    CString name;
    int type = 0;
    CRect2D bounds;
    CString subName;
    std::vector<Field> fields;
  };

  CVtVectorGML();
  ~CVtVectorGML();
  CVtVectorGML(const CVtVectorGML&) = delete;
  CVtVectorGML& operator=(const CVtVectorGML&) = delete;

  // Character set of the declarations written (Windows GDI numbering, 65536
  // UTF-8); 0, the default, is the platform's current one.
  void SetCharSet(int code) { charSet = code; }
  int GetCharSet() const { return charSet; }

  // ---- writing, in this order
  bool OpenForWrite(const CString& path);
  void SetLayerCount(int count);
  // False, and nothing set, for an index out of range, a name that cannot
  // be an XML element name (letters, digits, "_", "-", "."; not starting
  // with a digit, "-" or "."; bytes above 127 are taken as letters) or a
  // sub name that XML cannot hold (IsXmlText).
  bool SetLayerInfo(int index, const CString& name, int type, const CRect2D& bounds, const CString& subName);
  void SetFieldCount(int layer, int count);
  bool SetFieldInfo(int layer, int field, const CString& name, int type, int size);
  void BeginWriteRecord();
  void BeginWriteOneRecord();
  // True when a layer of that name (any letter case) exists. The geometry
  // stays the caller's; null writes a feature without one.
  bool WriteOneGeometry(CElemGeometry* geometry, const CString& layerName);
  void SetFieldValue(int index, const COleVariant& value);
  // Writes the feature; false, and nothing written, when the record's layer
  // was not found or a value holds a character XML cannot hold (IsXmlText).
  bool EndWriteOneRecord();
  void EndWriteRecord();
  void Close();

  // ---- reading
  // True when the file is GML 3.0.0 of this schema; the layer table is read
  // (and records can be read) whenever the root is the platform's.
  bool OpenForRead(const CString& path);
  int GetLayerCount() const { return static_cast<int>(layers.size()); }
  bool GetLayerInfo(int index, CString& name, int& type, CString& subName) const;
  const CRect2D* GetLayerBounds(int index) const;
  int GetFieldCount(int layer) const;
  bool GetFieldInfo(int layer, int field, CString& name, int& type, int& size) const;
  void BeginReadRecord() { BeginReadOneRecord(); }
  bool IsEOF();
  void BeginReadOneRecord();
  // The record's geometry in a new element the caller owns (left unchanged
  // when the feature has none, null when it cannot be read) and its layer.
  bool ReadOneGeometry(CVtElement*& geometry, CString& layerName);
  bool GetFieldValue(int index, CString& value) const;
  bool GetFieldValue(int index, COleVariant& value) const;
  void EndReadOneRecord();
  void EndReadRecord() {}
  int GetCurrentPercent() const;
  // Why the last read stopped before the end of the file; empty when it did not.
  const std::string& GetReadError() const { return document.errorText(); }
  // The iconv name of the character set of the names and texts read when the
  // file's declared encoding is one the parser does not decode itself (the
  // texts come in that encoding, GB18030 for GB2312); empty when they come
  // in UTF-8.
  const std::string& GetTextEncoding() const { return document.textEncoding(); }
  // Characters given by reference that the declared encoding cannot hold,
  // read so far; each came in the texts as "?".
  long long GetTextSubstitutions() const { return document.textSubstitutions(); }

  // ---- texts
  static CString DealContentChars(const CString& text);
  static CString LayerTypeToString(int code);
  static int LayerTypeFromString(const CString& text);
  static CString FieldTypeToString(int code);
  static int FieldTypeFromString(const CString& text);
  static bool IsXmlName(const CString& name);
  // False when the text holds a control character that XML 1.0 cannot hold
  // in any form (all below 32 but tab, line feed and carriage return).
  static bool IsXmlText(const CString& text);

 private:
  void CreateSchemaFile();
  void WriteSchemaHeader();
  void WriteSchemaElem_Veltram();
  void WriteSchemaElem_FeatureCollectionInfo();
  void WriteSchemaElem_UserPorpertyDefines();
  void WriteSchemaElem_Feature();
  // The first queued member, when its end tag has been read.
  CVtGmlFeatureMember* ReadyMember() const;
  bool ParseUntilReady();

  CString path;
  int charSet = 0;
  CVtGmlDocument document;
  std::vector<Layer> layers;
  CElemGeometry* geometry = nullptr;
  CArray<COleVariant> values;
  long long fileSize = 1;
  CVtGmlSchemaDocument schemaDocument;
  CString recordLayerName;
  int recordLayer = -1;
};
