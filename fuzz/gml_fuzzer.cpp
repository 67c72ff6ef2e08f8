// Random XML through the GML reader: the layer table, then every record with
// its geometry and every field value, the way an importer reads a file.
#include <cstdint>
#include <memory>

#include "FuzzInput.h"
#include "platform/vtelem/CVtElement.h"
#include "vector/gml/CVtVectorGML.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzPath("gml", "input.gml");
  if (!WriteFuzzFile(path, data, size)) return 0;
  CVtVectorGML gml;
  gml.OpenForRead(CString(path.c_str()));
  for (int l = 0; l < gml.GetLayerCount(); ++l) {
    CString name, sub;
    int type = 0, size_ = 0;
    gml.GetLayerInfo(l, name, type, sub);
    for (int f = 0; f <= gml.GetFieldCount(l); ++f) gml.GetFieldInfo(l, f, name, type, size_);
  }
  gml.BeginReadRecord();
  for (int records = 0; !gml.IsEOF() && records < 10000; ++records) {
    gml.BeginReadOneRecord();
    CVtElement* element = nullptr;
    CString layer;
    gml.ReadOneGeometry(element, layer);
    std::unique_ptr<CVtElement> owned(element);
    for (int f = -1; f < 8; ++f) {
      CString value;
      COleVariant variant;
      gml.GetFieldValue(f, value);
      gml.GetFieldValue(f, variant);
    }
    gml.GetCurrentPercent();
    gml.EndReadOneRecord();
  }
  gml.EndReadRecord();
  gml.Close();
  return 0;
}
