// ECW: the whole image at full size through the ECW reader's line reads,
// in order: one byte a pixel for one-band images, blue, green, red
// otherwise. The view decoder reads every raster the geodata library opens,
// so JPEG 2000 files are claimed too (the ECW SDK reads them as well).
#include <algorithm>
#include <cstring>
#include <string>

#include "access/RasterDriver.h"
#include "raster/CImgFileECW.h"

namespace vtfmt {
namespace {

// The ECW reader is not a CImgFile: the tool holds it in one.
class EcwFile : public CImgFile {
 public:
  CImgFileECW m_Ecw;
  CImgScanLine m_Line;
};

// Why the reader refused, in the SDK's words.
std::string SdkReason(const CImgFileECW& ecw) {
  const std::string detail = NCSGetLastErrorText();
  return std::string(NCSGetErrorText(static_cast<NCSError>(ecw.GetLastError()))) +
         (detail.empty() ? "" : " (" + detail + ")");
}

class EcwDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "ecw"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".ecw", ".jp2", ".j2k"}; }

  // JPEG 2000 files: the JP2 signature box, or a bare codestream.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    static const unsigned char jp2[] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10};
    static const unsigned char codestream[] = {0xFF, 0x4F, 0xFF, 0x51};
    if ((head.size() >= sizeof jp2 && std::equal(jp2, jp2 + sizeof jp2, head.begin())) ||
        (head.size() >= sizeof codestream && std::equal(codestream, codestream + sizeof codestream, head.begin())))
      return kContent;
    return RasterDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<EcwFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    EcwFile& f = static_cast<EcwFile&>(file);
    CImgFileECW& ecw = f.m_Ecw;
    // The reader records why on the message object, which the tool prints.
    if (!ecw.Open(path.c_str())) {
      reason = ecw.GetLastError() == NCS_SUCCESS ? "cannot open the file" : "cannot open the image";
      return false;
    }
    if (!ecw.SetOutputBound()) {
      reason = SdkReason(ecw);
      return false;
    }
    const ImgPixelFormat format = ecw.GetPixelFormat();
    const unsigned long width = static_cast<unsigned long>(ecw.GetWidth());
    f.SetWidth(width);
    f.SetHeight(static_cast<unsigned long>(ecw.GetHeight()));
    f.SetPixelFormat(format);
    f.SetPixelFormatExt(format);
    f.SetWidthBytes(width * (format == PF_BIT8 ? 1 : 3));
    f.SetPalette(ecw.m_Palette);
    return true;
  }

  bool SequentialRead() const override { return true; }

  // The reader sizes its own line; the caller's keeps its size.
  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    EcwFile& f = static_cast<EcwFile&>(file);
    if (!f.m_Ecw.GetScanLine(row, f.m_Line)) return -1;
    const int bytes = std::min(f.m_Line.GetSize(), line.GetSize());
    if (bytes < f.m_Line.GetSize()) return -1;
    std::memcpy(line.GetData(), f.m_Line.GetData(), static_cast<size_t>(bytes));
    return bytes;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    return {{"bands", std::to_string(static_cast<EcwFile&>(file).m_Ecw.GetBandCount())}};
  }
};

const EcwDriver kDriver;
const RegisterDriver kRegistered(150, &kDriver);

}  // namespace
}  // namespace vtfmt
