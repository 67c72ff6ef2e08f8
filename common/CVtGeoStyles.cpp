#include "common/CVtGeoStyles.h"

void CTransformErrors::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount(static_cast<DWORD_PTR>(GetSize()));
    for (int i = 0; i < GetSize(); ++i) {
      const CTransformError& e = m_pData[i];
      ar << static_cast<DWORD>(0) << static_cast<int>(e.m_nPoint) << e.m_dErrorX << e.m_dErrorY << e.m_dError;
    }
    return;
  }
  LoadElements(*this, ar, 32, [&ar](CTransformError& e) {
    DWORD reserved = 0;
    int point = 0;
    ar >> reserved >> point >> e.m_dErrorX >> e.m_dErrorY >> e.m_dError;
    e.m_nPoint = point;
  });
}
