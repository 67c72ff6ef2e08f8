// MrSID: the whole image at level 0, decoded a strip of rows at a time into
// the tool's memory: one byte a pixel for greyscale images, blue, green,
// red otherwise. Any raster the geodata library opens reads the same way
// with -f mrsid.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CImgFileMrSID20.h"

namespace vtfmt {
namespace {

class MrSIDFile : public CImgFileMrSID20 {
 public:
  std::vector<unsigned char> m_Strip;  // rows [m_nFirst, m_nFirst + m_nRows)
  long m_nFirst = 0, m_nRows = 0;
};

// Rows decoded at once: about this many bytes.
constexpr long kStripBytes = 4 << 20;

class MrSIDDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "mrsid"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".sid"}; }

  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    if (head.size() >= 4 && std::memcmp(head.data(), "msid", 4) == 0) return kContent;
    return RasterDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<MrSIDFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    MrSIDFile& sid = static_cast<MrSIDFile&>(file);
    sid.OpenForRead(path.c_str());
    if (sid.LoadImage() != 1) {
      reason = "cannot open the image: " + sid.GetStatusText().str();
      return false;
    }
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    MrSIDFile& sid = static_cast<MrSIDFile&>(file);
    const long width = sid.GetWidth(), height = sid.GetHeight();
    const long rowBytes = CVtImgToolkit::AlignWidth(sid.GetPixelFormat(), width);
    const long bytes = CVtImgToolkit::AlignWidthByte(sid.GetPixelFormat(), width);
    if (row < 0 || row >= height || line.GetSize() < bytes) return -1;
    if (row < sid.m_nFirst || row >= sid.m_nFirst + sid.m_nRows) {
      const long rows = std::min(height - row, std::max(1L, kStripBytes / rowBytes));
      sid.m_Strip.resize(static_cast<size_t>(rows) * static_cast<size_t>(rowBytes));
      // Centred so that the window starts at column 0 and at `row`.
      sid.m_nRows = 0;
      if (!sid.GetDataDirect(sid.m_Strip.data(), 0, width, rows, CPoint(width / 2, row + rows / 2))) return -1;
      sid.m_nFirst = row;
      sid.m_nRows = rows;
    }
    std::memcpy(line.GetData(), sid.m_Strip.data() + (row - sid.m_nFirst) * rowBytes, static_cast<size_t>(bytes));
    return bytes;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    MrSIDFile& sid = static_cast<MrSIDFile&>(file);
    return {{"bands", std::to_string(sid.GetBandCount())}, {"levels", std::to_string(sid.GetLev() + 1)}};
  }
};

const MrSIDDriver kDriver;
const RegisterDriver kRegistered(160, &kDriver);

}  // namespace
}  // namespace vtfmt
