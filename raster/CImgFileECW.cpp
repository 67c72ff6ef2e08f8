#include "raster/CImgFileECW.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtToolkit.h"

CImgFileECW::~CImgFileECW() { Close(); }

int CImgFileECW::Open(const CString& path) {
  Close();
  m_strFileName = path;
  if (path.IsEmpty() || !CVtToolkit::IsFileExisted(path)) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_CANNOT_OPEN, path);
    return 0;
  }
  const std::string resolved = VtResolvePathCase(path.str());
  const NCSError result = NCScbmOpenFileView(resolved.c_str(), &m_pFileView, nullptr);
  m_nLastError = result;
  if (result != NCS_SUCCESS) {
    m_pFileView = nullptr;
    VtGetErrorMsgObj()->SetMessage(0L, CString(NCSGetLastErrorText()));
    return 0;
  }
  NCScbmGetViewFileInfo(m_pFileView, &m_pFileInfo);
  m_nBandCount = m_pFileInfo->nBands;
  if (m_nBandCount == 1) {
    m_Palette.SetSize(256);
    for (int k = 0; k < 256; ++k) {
      const BYTE v = static_cast<BYTE>(k);
      m_Palette[k] = PALETTEENTRY{v, v, v, 0};
    }
  } else {
    m_Palette.SetSize(0);
  }
  return 1;
}

void CImgFileECW::Close() {
  if (m_pFileView) NCScbmCloseFileViewEx(m_pFileView, true);
  m_pFileView = nullptr;
  m_pFileInfo = nullptr;
  ReleaseCacheBuffer();
}

int CImgFileECW::SetFileView(CRect rect, long windowWidth, long windowHeight, long* bands, long bandCount) {
  if (!m_pFileView || bandCount > static_cast<long>(m_nBandCount)) return 0;
  m_ViewRect = CRect2D(rect.left, rect.top, rect.right, rect.bottom);
  // Edges of 32 bits whose difference needs 33: the sizes saturate.
  m_nViewImgWidth = static_cast<int32_t>(std::min<long long>(std::llabs(rect.Width()), INT32_MAX));
  m_nViewImgHeight = static_cast<int32_t>(std::min<long long>(std::llabs(rect.Height()), INT32_MAX));
  // Window sizes the SDK and the cache's 32-bit sizes can hold; a larger
  // long must not wrap into a small window the cache is not sized for.
  if (windowWidth < 1 || windowHeight < 1 || windowWidth > INT32_MAX || windowHeight > INT32_MAX) {
    m_nLastError = NCS_INVALID_PARAMETER;
    return 0;
  }
  m_nViewWndWidth = static_cast<int32_t>(windowWidth);
  m_nViewWndHeight = static_cast<int32_t>(windowHeight);

  std::vector<uint32_t> list(m_nBandCount);
  for (uint32_t b = 0; b < m_nBandCount; ++b) list[b] = b;
  uint32_t n = m_nBandCount;
  if (bands) {
    n = bandCount > 0 ? static_cast<uint32_t>(bandCount) : 0;
    for (uint32_t b = 0; b < n; ++b) list[b] = static_cast<uint32_t>(bands[b]);
  }
  // Corners as the SDK counts them, the last pixel inclusive. Negative
  // edges become values past any image, which the SDK refuses.
  const NCSError result = NCScbmSetFileView(
      m_pFileView, n, list.data(), static_cast<uint32_t>(rect.left), static_cast<uint32_t>(rect.top),
      static_cast<uint32_t>(static_cast<long long>(rect.right) - 1),
      static_cast<uint32_t>(static_cast<long long>(rect.bottom) - 1), static_cast<uint32_t>(windowWidth),
      static_cast<uint32_t>(windowHeight));
  m_nLastError = result;
  if (result != NCS_SUCCESS) return 0;

  const long long d = windowWidth / 8 * 8 + 8;
  const bool perBand = m_nBandCount < 3;
  // Rows of d bytes per view band, or of d triples: what the SDK writes.
  const long long rows = perBand ? windowHeight * static_cast<long long>(n) : windowHeight;
  const long long rowBytes = perBand ? d : d * 3;
  if (rows > INT32_MAX / rowBytes) {
    m_nLastError = NCS_COULDNT_ALLOC_MEMORY;
    return 0;
  }
  const int32_t need = static_cast<int32_t>(rows * rowBytes);
  if (!m_pCache || m_nCacheSize < need) {
    ReleaseCacheBuffer();
    m_pCache = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(need), 1));
    if (!m_pCache) {
      m_nLastError = NCS_COULDNT_ALLOC_MEMORY;
      return 0;
    }
    m_nCacheSize = need;
  }
  m_nCacheRowLen = static_cast<int32_t>(d);
  m_nCacheRows = static_cast<int32_t>(rows);

  if (perBand) {
    std::vector<uint8_t*> lines(n);
    for (long l = 0; l < windowHeight; ++l) {
      for (uint32_t b = 0; b < n; ++b) lines[b] = m_pCache + (static_cast<size_t>(l) * n + b) * d;
      const NCSEcwReadStatus status = NCScbmReadViewLineBIL(m_pFileView, lines.data());
      if (status != NCSECW_READ_OK) {
        m_nLastError = status;
        return 0;
      }
    }
  } else {
    for (long l = 0; l < windowHeight; ++l) {
      const NCSEcwReadStatus status = NCScbmReadViewLineBGR(m_pFileView, m_pCache + static_cast<size_t>(l) * d * 3);
      if (status != NCSECW_READ_OK) {
        m_nLastError = status;
        return 0;
      }
    }
  }
  return 1;
}

int CImgFileECW::SetOutputBound() {
  if (!m_pFileView) return 0;
  std::vector<uint32_t> list(m_nBandCount);
  for (uint32_t b = 0; b < m_nBandCount; ++b) list[b] = b;
  const uint32_t w = m_pFileInfo->nSizeX, h = m_pFileInfo->nSizeY;
  const NCSError result = NCScbmSetFileView(m_pFileView, m_nBandCount, list.data(), 0, 0, w - 1, h - 1, w, h);
  m_nLastError = result;
  return result == NCS_SUCCESS ? 1 : 0;
}

int CImgFileECW::GetScanLine(long, CImgScanLine& line) {
  NCSFileViewSetInfo* view = nullptr;
  if (!m_pFileView || NCScbmGetViewInfo(m_pFileView, &view) != NCS_SUCCESS) return 0;
  // The line is the file's width: only a view of the whole image at full
  // size delivers lines that long.
  const uint32_t w = m_pFileInfo->nSizeX, h = m_pFileInfo->nSizeY;
  if (view->nSizeX != w || view->nSizeY != h || view->nTopLeftX != 0 || view->nTopLeftY != 0 ||
      view->nBottomRightX != w - 1 || view->nBottomRightY != h - 1)
    return 0;
  const long width = GetWidth();
  line.m_PixelFormat = GetPixelFormat();
  NCSEcwReadStatus status;
  if (line.m_PixelFormat == PF_BIT8) {
    if (width <= 0) return 0;
    line.SetSize(static_cast<int>(width));
    uint8_t* lines[] = {line.GetData()};
    status = NCScbmReadViewLineBIL(m_pFileView, lines);
  } else {
    if (width > INT_MAX / 3) return 0;
    line.SetSize(static_cast<int>(width * 3));
    status = NCScbmReadViewLineBGR(m_pFileView, line.GetData());
  }
  line.m_nLength = line.GetSize();
  line.m_nWidth = width;
  m_nLastError = status;
  return status == NCSECW_READ_OK ? 1 : 0;
}

int CImgFileECW::GetECWFileInfo(NCSFileViewFileInfo*& info) {
  if (!m_pFileView) return 0;
  m_nLastError = NCScbmGetViewFileInfo(m_pFileView, &info);
  return 1;
}

int CImgFileECW::GetECWViewSetInfo(NCSFileViewSetInfo*& info) {
  if (!m_pFileView) return 0;
  m_nLastError = NCScbmGetViewInfo(m_pFileView, &info);
  return 1;
}

void CImgFileECW::ReleaseCacheBuffer() {
  std::free(m_pCache);
  m_pCache = nullptr;
  m_nCacheSize = 0;
  m_nCacheRowLen = 0;
  m_nCacheRows = 0;
}
