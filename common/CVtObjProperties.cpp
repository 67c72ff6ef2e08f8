#include "common/CVtObjProperties.h"

void CVtObjProperties::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount(static_cast<DWORD_PTR>(GetSize()));
    for (int i = 0; i < GetSize(); ++i) {
      const CVtObjProperty& p = m_pData[i];
      ar << p.m_nID << p.m_nType << p.m_strName << p.m_strValue;
    }
    return;
  }
  // Two numbers and two string lengths: 6 bytes at the least.
  LoadElements(*this, ar, 6, [&ar](CVtObjProperty& p) { ar >> p.m_nID >> p.m_nType >> p.m_strName >> p.m_strValue; });
}
