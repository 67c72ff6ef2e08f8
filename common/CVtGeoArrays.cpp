#include "common/CVtGeoArrays.h"

#include <string.h>

void CVtByteArrayEx::RemoveAllSafely() {
  // explicit_bzero is not optimised away although the storage is freed next.
  if (m_pData) explicit_bzero(m_pData, static_cast<size_t>(m_nMaxSize));
  RemoveAll();
}
