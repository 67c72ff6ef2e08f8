#include "raster/CImgFileMrSID20.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"

using namespace LizardTech;

namespace {

// An edge for an integer rectangle, saturated to 32 bits.
LONG Saturate(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<LONG>(std::max<double>(INT32_MIN, std::min<double>(INT32_MAX, v)));
}

void ReportException(const Exception& e) { VtGetErrorMsgObj()->SetMessage(0L, CString(e.what())); }

}  // namespace

CImgFileMrSID20::CImgFileMrSID20() { Init(); }

CImgFileMrSID20::CImgFileMrSID20(CString path) {
  m_strPath = path;
  Open(path);
}

CImgFileMrSID20::~CImgFileMrSID20() { Close(); }

void CImgFileMrSID20::Init() {
  ReleaseCacheBuffer();
  m_strStatus = "None";
  m_ViewRect.SetRectEmpty();
  m_dResolution = 1.0;
}

int CImgFileMrSID20::OpenForRead(CString path) {
  m_strPath = path;
  return 1;
}

long CImgFileMrSID20::LoadImage() {
  if (m_strPath.IsEmpty()) return 0;
  if (m_pNavigator) return 1;
  return Open(m_strPath);
}

int CImgFileMrSID20::Open(CString path) {
  if (m_pNavigator) return 1;
  m_strPath = path;
  Init();
  Trans::initialize();
  try {
    FileName name(VtResolvePathCase(path.str()));
    MrSIDFile file(name);
    m_pNavigator = new MrSIDNavigator(file.image());
    m_pBufferInfo = new ImageBufferInfo();
    m_pBufferInfo->dataOffset = 0;
    m_pBufferInfo->rowAlignment = 4;
    const MrSIDImage& image = file.image();
    m_nBandCount = image.nband();
    m_nDeepestLevel = image.nlev() - 1;
    m_nWidth = image.width();
    m_nHeight = image.height();
    if (image.colorSpace() == COLORSPACE_GREYSCALE) {
      CreateGrayPalette(m_Palette, 256);
      SetPixelFormat(PF_BIT8);
      m_pBufferInfo->setColorSpace(COLORSPACE_GREYSCALE);
      m_pBufferInfo->setPixelStride(1);
    } else {
      m_Palette.SetSize(0);
      SetPixelFormat(PF_BIT24);
      SetPixelFormatExt(PF_BIT24);
      m_pBufferInfo->setColorSpace(COLORSPACE_RGB);
      m_pBufferInfo->setPixelStride(3);
      m_pBufferInfo->setSampleMap(2, 1, 0);
    }
    // The base's properties too, for callers that read the image through it.
    SetWidth(static_cast<unsigned long>(m_nWidth));
    SetHeight(static_cast<unsigned long>(m_nHeight));
    SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(GetPixelFormat(), m_nWidth)));
    m_bFailed = 0;
    return 1;
  } catch (const Exception& e) {
    delete m_pNavigator;
    m_pNavigator = nullptr;
    delete m_pBufferInfo;
    m_pBufferInfo = nullptr;
    m_strStatus = e.what();
    m_bFailed = 1;
    return 0;
  }
}

void CImgFileMrSID20::Close() {
  ReleaseCacheBuffer();
  delete m_pBufferInfo;
  m_pBufferInfo = nullptr;
  delete m_pNavigator;
  m_pNavigator = nullptr;
  CImgFile::Close();
}

long CImgFileMrSID20::ChooseLevel(double resolution, long deepest) {
  if (resolution > 1.0 || deepest < 1) return 0;
  const double a = 1.0 / resolution;
  for (long p = 0; p < deepest; ++p) {
    const double scale = std::ldexp(1.0, static_cast<int>(p));
    if (0.75 * scale - 1e-10 < a && a < 1.5 * scale + 1e-10) return p;
  }
  return deepest;
}

int CImgFileMrSID20::GetImage() {
  if (m_strPath.IsEmpty()) {
    m_strStatus = "Error:File not opened";
    return 0;
  }
  if (!m_pNavigator) {
    m_strStatus = "Load failed.";
    return 0;
  }
  // NaN is no resolution either.
  if (!(m_dResolution >= 0)) {
    m_strStatus = "Error:Resolution not valid";
    return 0;
  }
  // Pixel rows grow downwards: a view has its top above its bottom.
  if (!(m_ViewRect.right > m_ViewRect.left && m_ViewRect.bottom > m_ViewRect.top)) {
    m_strStatus = "Error:Rectangle not valid";
    return 0;
  }
  if (m_bFailed) return 0;

  m_nLevel = static_cast<int32_t>(ChooseLevel(m_dResolution, m_nDeepestLevel));
  m_dLevelFactor = std::ldexp(1.0, m_nLevel);
  // The view and the image at that level, edges rounded half away from
  // zero; the intersection is taken before anything becomes an integer, so
  // no edge of a far-off view overflows.
  const double l = std::round(m_ViewRect.left / m_dLevelFactor), t = std::round(m_ViewRect.top / m_dLevelFactor);
  const double r = std::round(m_ViewRect.right / m_dLevelFactor), b = std::round(m_ViewRect.bottom / m_dLevelFactor);
  const double levelW = std::round(m_nWidth / m_dLevelFactor), levelH = std::round(m_nHeight / m_dLevelFactor);
  m_LevelViewRect.SetRect(Saturate(l), Saturate(t), Saturate(r), Saturate(b));
  const double wl = std::max(l, 0.0), wt = std::max(t, 0.0), wr = std::min(r, levelW), wb = std::min(b, levelH);
  if (!(wr > wl && wb > wt)) {
    m_WindowRect.SetRectEmpty();
    m_strStatus = "Error:Rectangle not valid";
    return 0;
  }
  m_WindowRect.SetRect(static_cast<LONG>(wl), static_cast<LONG>(wt), static_cast<LONG>(wr), static_cast<LONG>(wb));

  ReleaseCacheBuffer();
  m_nWindowWidth = static_cast<int32_t>(m_WindowRect.Width());
  m_nWindowHeight = static_cast<int32_t>(m_WindowRect.Height());
  // Rows as the decoder writes them: the description's stride per pixel
  // (a band count of 2 or 4 would give rows the wrong length), padded to 4.
  const long long rowBytes = m_pBufferInfo->rowBytes(m_nWindowWidth);
  const long long bytes = rowBytes * m_nWindowHeight;
  if (rowBytes < 0 || rowBytes > INT32_MAX || (m_pBuffer = static_cast<unsigned char*>(
                                                   std::calloc(static_cast<size_t>(bytes), 1))) == nullptr) {
    m_nRowBytes = 0;
    m_strStatus = "Error:Window too large";
    return 0;
  }
  m_nRowBytes = static_cast<int32_t>(rowBytes);

  try {
    m_pNavigator->zoomTo(m_nLevel);
    m_pNavigator->resize(m_nWindowWidth, m_nWindowHeight, REFERENCE_CENTER);
    m_pNavigator->moveTo((static_cast<long long>(m_WindowRect.left) + m_WindowRect.right) / 2,
                         (static_cast<long long>(m_WindowRect.top) + m_WindowRect.bottom) / 2, m_nLevel);
  } catch (const Exception& e) {
    ReportException(e);
    return 0;
  }
  return RetriveData();
}

int CImgFileMrSID20::RetriveData() {
  if (!m_pNavigator || !m_pBuffer) return 0;
  try {
    // The buffer's own size: a navigator moved to another size since
    // refuses it rather than write past its end.
    ImageBuffer buffer(m_nWindowWidth, m_nWindowHeight, *m_pBufferInfo, m_pBuffer);
    buffer.setDefaultPixelValue(m_pNavigator->image().backgroundPixel());
    m_pNavigator->loadImage(buffer);
    return 1;
  } catch (const Exception& e) {
    ReportException(e);
    return 0;
  }
}

int CImgFileMrSID20::GetDataDirect(unsigned char* target, long level, long width, long height, CPoint centre) {
  if (!m_pNavigator) return 0;
  try {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX || level < 0 || level > INT32_MAX)
      throw Exception("window of " + std::to_string(width) + " x " + std::to_string(height) + " pixels at level " +
                      std::to_string(level));
    ImageBuffer buffer(static_cast<int>(width), static_cast<int>(height), *m_pBufferInfo, target);
    buffer.setDefaultPixelValue(m_pNavigator->image().backgroundPixel());
    m_pNavigator->zoomTo(static_cast<int>(level));
    m_pNavigator->resize(static_cast<int>(width), static_cast<int>(height), REFERENCE_CENTER);
    m_pNavigator->moveTo(centre.x, centre.y, static_cast<int>(level));
    m_pNavigator->loadImage(buffer);
    return 1;
  } catch (const Exception& e) {
    ReportException(e);
    return 0;
  }
}

void CImgFileMrSID20::ReleaseCacheBuffer() {
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}
