#include "platform/mfc/CArray.h"

#include "platform/mfc/CArchive.h"

void CByteArray::Serialize(CArchive& ar) { SerializeElementBytes(*this, ar); }
