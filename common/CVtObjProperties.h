// Object properties: a list of (identifier, type, name, value) records that
// the platform attaches to map objects.
#pragma once

#include "platform/mfc/CArchive.h"
#include "platform/mfc/CArray.h"
#include "platform/mfc/CString.h"

class CVtObjProperty {
 public:
  CVtObjProperty() = default;
  CVtObjProperty(const CVtObjProperty&) = default;
  CVtObjProperty& operator=(const CVtObjProperty&) = default;
  ~CVtObjProperty() = default;

  bool operator==(const CVtObjProperty& o) const {
    return m_nID == o.m_nID && m_nType == o.m_nType && m_strName == o.m_strName && m_strValue == o.m_strValue;
  }

  short m_nID = -1;  // -1: not set
  short m_nType = 0;
  CString m_strName;
  CString m_strValue;
};

// A property list grows like every CArray and serializes as the count, then
// per property its two numbers (16-bit, little-endian) and its two strings
// in MFC's string form, so a stored list reads back in any process.
class CVtObjProperties : public CArray<CVtObjProperty> {
 public:
  ~CVtObjProperties() override { RemoveAll(); }
  void Serialize(CArchive& ar) override;
};
