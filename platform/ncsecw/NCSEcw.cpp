#include "platform/ncsecw/NCSEcw.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/geodata/GeodataRaster.h"

struct NCSFileView {
  vtgeo::RasterDataset raster;
  std::string path;
  NCSFileViewFileInfo fileInfo;
  NCSFileViewSetInfo setInfo;
  std::vector<uint32_t> bands;
  bool viewSet = false;
  // Decoded view lines [stripFirst, stripFirst + stripRows), each line
  // sizeX pixels of nBands interleaved samples.
  std::vector<uint8_t> strip;
  uint32_t stripFirst = 0, stripRows = 0;
};

namespace {

thread_local std::string g_lastError;

NCSError Fail(NCSError code, const std::string& detail) {
  g_lastError = detail;
  return code;
}

NCSEcwReadStatus ReadFail(const std::string& detail) {
  g_lastError = detail;
  return NCSECW_READ_FAILED;
}

// A readable file named .ecw.
bool LooksLikeEcw(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".ecw";
}

// A view read at full size is decoded a strip of lines at a time; a
// resampled one whole, in one read, up to kResampledViewBytes. One line of
// every view band must fit in kLineBytes (a file of thousands of bands
// takes no view of them all).
constexpr size_t kStripBytes = size_t(1) << 20;
constexpr size_t kResampledViewBytes = size_t(256) << 20;
constexpr size_t kLineBytes = size_t(64) << 20;

// Makes view line `line` present in the strip.
bool DecodeStripAt(NCSFileView& v, uint32_t line) {
  const NCSFileViewSetInfo& s = v.setInfo;
  if (line >= v.stripFirst && line < v.stripFirst + v.stripRows) return true;
  const uint32_t areaW = s.nBottomRightX - s.nTopLeftX + 1, areaH = s.nBottomRightY - s.nTopLeftY + 1;
  const bool fullSize = areaW == s.nSizeX && areaH == s.nSizeY;
  const size_t lineBytes = size_t(s.nSizeX) * s.nBands;
  uint32_t first = 0, rows = s.nSizeY;
  if (fullSize) {
    first = line;
    rows = static_cast<uint32_t>(std::min<size_t>(s.nSizeY - line, std::max<size_t>(1, kStripBytes / lineBytes)));
  } else if (lineBytes * s.nSizeY > kResampledViewBytes) {
    g_lastError = "a resampled view of " + std::to_string(lineBytes * s.nSizeY >> 20) +
                  " MB is more than this decoder holds at once (" + std::to_string(kResampledViewBytes >> 20) +
                  " MB)";
    return false;
  }
  v.stripRows = 0;
  try {
    v.strip.resize(lineBytes * rows);
  } catch (const std::bad_alloc&) {
    g_lastError = "not enough memory to decode the view";
    return false;
  }
  std::vector<int> bands(v.bands.begin(), v.bands.end());
  const int x = static_cast<int>(s.nTopLeftX);
  const int y = static_cast<int>(s.nTopLeftY + (fullSize ? first : 0));
  const int h = static_cast<int>(fullSize ? rows : areaH);
  std::string reason;
  if (!v.raster.Read(x, y, static_cast<int>(areaW), h, static_cast<int>(s.nSizeX), static_cast<int>(rows),
                     bands.data(), static_cast<int>(bands.size()), v.strip.data(), s.nBands,
                     static_cast<long long>(lineBytes), 1, vtgeo::kResampleAverage, reason)) {
    g_lastError = v.path + ": " + reason;
    return false;
  }
  v.stripFirst = first;
  v.stripRows = rows;
  return true;
}

// The strip's samples of the next view line, after checks.
const uint8_t* NextLine(const NCSFileView& v) {
  const NCSFileViewSetInfo& s = v.setInfo;
  return v.strip.data() + size_t(s.nNextLine - v.stripFirst) * s.nSizeX * s.nBands;
}

bool ReadyForLine(NCSFileView* view, std::string& reason) {
  if (!view || !view->viewSet) {
    reason = "no view is set";
    return false;
  }
  if (view->setInfo.nNextLine >= view->setInfo.nSizeY) {
    reason = "every line of the view has been read";
    return false;
  }
  if (!DecodeStripAt(*view, view->setInfo.nNextLine)) {
    reason = g_lastError;
    return false;
  }
  return true;
}

}  // namespace

NCSError NCScbmOpenFileView(const char* path, NCSFileView** view, NCSRefreshCallback refresh) {
  if (!view) return Fail(NCS_INVALID_PARAMETER, "no place for the view handle");
  *view = nullptr;
  if (refresh) return Fail(NCS_INVALID_PARAMETER, "progressive views (a refresh callback) are not offered");
  if (!path || !*path) return Fail(NCS_FILE_NOT_FOUND, "no file name");
  std::unique_ptr<NCSFileView> v(new (std::nothrow) NCSFileView);
  if (!v) return Fail(NCS_COULDNT_ALLOC_MEMORY, "not enough memory for a view");
  v->path = path;
  std::string reason;
  if (!v->raster.Open(path, reason)) {
    if (LooksLikeEcw(path))
      return Fail(NCS_ECW_DECODER_MISSING,
                  std::string(path) +
                      ": an ECW image needs the vendor's ECW wavelet decoder, which this system does not have"
                      " (the geodata library says: " +
                      reason + ")");
    return Fail(NCS_FILE_OPEN_FAILED, std::string(path) + ": " + reason);
  }
  if (v->raster.Bands() > 0xFFFF) return Fail(NCS_FILE_OPEN_FAILED, std::string(path) + ": too many bands");
  v->fileInfo.nSizeX = static_cast<uint32_t>(v->raster.Width());
  v->fileInfo.nSizeY = static_cast<uint32_t>(v->raster.Height());
  v->fileInfo.nBands = static_cast<uint16_t>(v->raster.Bands());
  *view = v.release();
  return NCS_SUCCESS;
}

NCSError NCScbmGetViewFileInfo(NCSFileView* view, NCSFileViewFileInfo** info) {
  if (!view || !info) return Fail(NCS_INVALID_PARAMETER, "no view");
  *info = &view->fileInfo;
  return NCS_SUCCESS;
}

NCSError NCScbmSetFileView(NCSFileView* view, uint32_t nBands, const uint32_t* bandList, uint32_t tlx, uint32_t tly,
                           uint32_t brx, uint32_t bry, uint32_t sizeX, uint32_t sizeY) {
  if (!view) return Fail(NCS_INVALID_PARAMETER, "no view");
  const NCSFileViewFileInfo& f = view->fileInfo;
  if (nBands < 1 || nBands > f.nBands || !bandList)
    return Fail(NCS_INVALID_PARAMETER, "a view takes 1 to " + std::to_string(f.nBands) + " bands");
  for (uint32_t i = 0; i < nBands; ++i)
    if (bandList[i] >= f.nBands)
      return Fail(NCS_INVALID_PARAMETER, "band " + std::to_string(bandList[i]) + " is not in the file");
  if (tlx > brx || tly > bry || brx >= f.nSizeX || bry >= f.nSizeY)
    return Fail(NCS_REGION_OUTSIDE_FILE, "the view (" + std::to_string(tlx) + ", " + std::to_string(tly) + ") to (" +
                                             std::to_string(brx) + ", " + std::to_string(bry) +
                                             ") is not a rectangle inside the image of " + std::to_string(f.nSizeX) +
                                             " x " + std::to_string(f.nSizeY) + " pixels");
  // The geodata library counts pixels in int.
  if (sizeX < 1 || sizeY < 1 || sizeX > 0x7FFFFFFF || sizeY > 0x7FFFFFFF || size_t(sizeX) * nBands > kLineBytes)
    return Fail(NCS_INVALID_PARAMETER, "a window of " + std::to_string(sizeX) + " x " + std::to_string(sizeY) +
                                           " pixels of " + std::to_string(nBands) +
                                           " bands cannot be decoded (lines of 1 to " +
                                           std::to_string(kLineBytes >> 20) + " MB can)");
  view->bands.assign(bandList, bandList + nBands);
  NCSFileViewSetInfo& s = view->setInfo;
  s.nBands = nBands;
  s.pBandList = view->bands.data();
  s.nTopLeftX = tlx, s.nTopLeftY = tly, s.nBottomRightX = brx, s.nBottomRightY = bry;
  s.nSizeX = sizeX, s.nSizeY = sizeY;
  s.nNextLine = 0;
  view->viewSet = true;
  view->strip.clear();
  view->stripFirst = view->stripRows = 0;
  return NCS_SUCCESS;
}

NCSEcwReadStatus NCScbmReadViewLineBIL(NCSFileView* view, uint8_t** lines) {
  std::string reason;
  if (!lines) return ReadFail("no line buffers");
  if (!ReadyForLine(view, reason)) return ReadFail(reason);
  NCSFileViewSetInfo& s = view->setInfo;
  for (uint32_t b = 0; b < s.nBands; ++b)
    if (!lines[b]) return ReadFail("no buffer for view band " + std::to_string(b));
  const uint8_t* from = NextLine(*view);
  if (s.nBands == 1) {
    std::memcpy(lines[0], from, s.nSizeX);
  } else {
    for (uint32_t x = 0; x < s.nSizeX; ++x, from += s.nBands)
      for (uint32_t b = 0; b < s.nBands; ++b) lines[b][x] = from[b];
  }
  ++s.nNextLine;
  return NCSECW_READ_OK;
}

NCSEcwReadStatus NCScbmReadViewLineBGR(NCSFileView* view, uint8_t* triplets) {
  std::string reason;
  if (!triplets) return ReadFail("no line buffer");
  if (!ReadyForLine(view, reason)) return ReadFail(reason);
  NCSFileViewSetInfo& s = view->setInfo;
  const uint8_t* from = NextLine(*view);
  const size_t green = s.nBands >= 3 ? 1 : 0, blue = s.nBands >= 3 ? 2 : 0;
  for (uint32_t x = 0; x < s.nSizeX; ++x, triplets += 3, from += s.nBands) {
    triplets[0] = from[blue];
    triplets[1] = from[green];
    triplets[2] = from[0];
  }
  ++s.nNextLine;
  return NCSECW_READ_OK;
}

NCSError NCScbmGetViewInfo(NCSFileView* view, NCSFileViewSetInfo** info) {
  if (!view || !info) return Fail(NCS_INVALID_PARAMETER, "no view");
  *info = &view->setInfo;
  return NCS_SUCCESS;
}

NCSError NCScbmCloseFileViewEx(NCSFileView* view, bool) {
  if (!view) return Fail(NCS_INVALID_PARAMETER, "no view");
  delete view;
  return NCS_SUCCESS;
}

const char* NCSGetErrorText(NCSError error) {
  switch (error) {
    case NCS_SUCCESS: return "success";
    case NCS_FILE_NOT_FOUND: return "file not found";
    case NCS_FILE_OPEN_FAILED: return "the file is not an image the decoder reads";
    case NCS_ECW_DECODER_MISSING: return "the ECW wavelet decoder is not available";
    case NCS_INVALID_PARAMETER: return "invalid parameter";
    case NCS_REGION_OUTSIDE_FILE: return "the view lies outside the image";
    case NCS_COULDNT_ALLOC_MEMORY: return "not enough memory";
    case NCS_FILEIO_ERROR: return "the image could not be decoded";
  }
  return "unknown error";
}

const char* NCSGetLastErrorText() { return g_lastError.c_str(); }
