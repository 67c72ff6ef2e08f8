// The ECW decoding SDK's view interface, as far as the ECW reader uses it.
// The vendor's wavelet decoder is not available on this system: a view is
// decoded by the geodata library instead, so every raster it opens (JPEG
// 2000 through its OpenJPEG driver, GeoTIFF, PNG, ...) can be viewed. A
// genuine ECW file that the geodata library cannot decode fails to open
// with NCS_ECW_DECODER_MISSING and a text that says so.
//
// A view is a rectangle of full-resolution pixels, corners inclusive,
// resampled to a window of SizeX x SizeY pixels by area averaging (the
// geodata library's "average" resampling, from its reduced copies where the
// file holds them). Its lines are then read in order, top first, either one
// buffer per view band (BIL) or as blue, green, red triples (BGR).
#pragma once

#include <cstdint>

enum NCSError {
  NCS_SUCCESS = 0,
  NCS_FILE_NOT_FOUND = 1,
  NCS_FILE_OPEN_FAILED = 2,       // not an image the decoder reads
  NCS_ECW_DECODER_MISSING = 3,    // an ECW file, whose wavelet decoder this system lacks
  NCS_INVALID_PARAMETER = 4,
  NCS_REGION_OUTSIDE_FILE = 5,    // view corners outside the image
  NCS_COULDNT_ALLOC_MEMORY = 6,
  NCS_FILEIO_ERROR = 7,           // the image could not be decoded
};

enum NCSEcwReadStatus {
  NCSECW_READ_OK = 0,
  NCSECW_READ_FAILED = 1,  // no view, past the last line, or a decoding error
  NCSECW_READ_CANCELLED = 2,
};

// The file's facts. Owned by the view.
struct NCSFileViewFileInfo {
  uint32_t nSizeX = 0;  // width in pixels
  uint32_t nSizeY = 0;  // height in pixels
  uint16_t nBands = 0;
};

// The view last set. Owned by the view.
struct NCSFileViewSetInfo {
  uint32_t nBands = 0;
  const uint32_t* pBandList = nullptr;  // file bands of the view, 0-based
  uint32_t nTopLeftX = 0, nTopLeftY = 0;          // first pixel of the rectangle
  uint32_t nBottomRightX = 0, nBottomRightY = 0;  // last pixel, inclusive
  uint32_t nSizeX = 0, nSizeY = 0;                // window size
  uint32_t nNextLine = 0;                         // view line the next read delivers
};

struct NCSFileView;

// Called as lines become available in progressive mode, which this decoder
// does not offer: views are always read line by line, blocking.
typedef NCSEcwReadStatus (*NCSRefreshCallback)(NCSFileView*);

// Opens a view handle on `path`. `refresh` must be null.
NCSError NCScbmOpenFileView(const char* path, NCSFileView** view, NCSRefreshCallback refresh);
NCSError NCScbmGetViewFileInfo(NCSFileView* view, NCSFileViewFileInfo** info);
// Sets the view: `nBands` file bands from `bandList` (0-based, each less
// than the file's band count), the pixels (tlx, tly) to (brx, bry) inclusive,
// resampled to sizeX x sizeY. Reading restarts at view line 0.
NCSError NCScbmSetFileView(NCSFileView* view, uint32_t nBands, const uint32_t* bandList, uint32_t tlx, uint32_t tly,
                           uint32_t brx, uint32_t bry, uint32_t sizeX, uint32_t sizeY);
// The next view line, band b of the view into lines[b] (sizeX bytes each).
NCSEcwReadStatus NCScbmReadViewLineBIL(NCSFileView* view, uint8_t** lines);
// The next view line as sizeX blue, green, red triples: view bands 2, 1
// and 0 for views of three bands or more, view band 0 three times for
// views of one or two.
NCSEcwReadStatus NCScbmReadViewLineBGR(NCSFileView* view, uint8_t* triplets);
NCSError NCScbmGetViewInfo(NCSFileView* view, NCSFileViewSetInfo** info);
// Closes the view; the decoded file is released whatever `freeCachedFile`.
NCSError NCScbmCloseFileViewEx(NCSFileView* view, bool freeCachedFile);

// A short text for each code.
const char* NCSGetErrorText(NCSError error);
// What went wrong in the last call of this thread that failed, with the
// file and the reason; empty when none has.
const char* NCSGetLastErrorText();
