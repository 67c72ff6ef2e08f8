// IDRISI rasters: an image file (.img) with its .doc documentation file.
// Rows are read once each, in order; "byte" images are grey pictures,
// "integer" images 16-bit cells and "real" images float cells (3200).
// Writes byte, integer and real images with their documentation file.
#include <string>

#include "access/RasterDriver.h"
#include "platform/mfc/CStdioFile.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "raster/CImgFileIdr.h"

namespace vtfmt {
namespace {

class IdrisiDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "idrisi"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  // "byte", "integer" and "real" images.
  std::vector<RowForm> WriteForms() const override { return {GreyForm(), CellForm(16, 'i'), CellForm(32, 'f')}; }
  std::vector<std::string> Extensions() const override { return {".img"}; }

  // The image says nothing of itself: a documentation file beside it whose
  // first line is the title line decides.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>&) const override {
    const CString doc = CVtToolkit::ChangeExtName(path.c_str(), ".doc");
    // Only an .img: any other file beside a .doc (a BIL, an ASCII grid
    // sharing the base name) is not an IDRISI image.
    if (ExtensionOf(path) != ".img" || !CVtToolkit::IsFileExisted(doc)) return kNoMatch;
    CStdioFile file;
    CString line;
    if (!file.Open(doc, CFile::modeRead | CFile::typeText) || !file.ReadString(line)) return kNoMatch;
    return line.Left(10).CompareNoCase("file title") == 0 ? kContent : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<CImgFileIdr>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (!RasterDriver::OpenRead(file, path, reason)) return false;
    // Rows lie one after another, unpadded.
    const unsigned long long row = static_cast<unsigned long long>(
        CVtImgToolkit::AlignWidthByte(file.GetPixelFormat(), static_cast<long>(file.GetWidth())));
    reason = CutRows(file, 0, row, row, file.GetHeight());
    if (!reason.empty()) {
      file.Close();
      return false;
    }
    // "real" samples are floats.
    if (file.GetPixelFormat() == PF_BIT32) {
      file.SetPixelFormat(PF_FLOAT32);
      file.SetPixelFormatExt(PF_FLOAT32);
    }
    if (file.GetPixelFormat() == PF_BIT8) CImgFile::CreateGrayPalette(file.m_Palette, 256);
    return true;
  }

  bool SequentialRead() const override { return true; }
  bool HoldsCells(CImgFile& file) const override { return file.GetPixelFormat() != PF_BIT8; }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileIdr& idr = static_cast<CImgFileIdr&>(file);
    const int bits = idr.m_bmiHeader.biBitCount;
    return {{"title", idr.m_strTitle.str()},
            {"data_type", bits == 8 ? "byte" : bits == 16 ? "integer" : "real"},
            {"doc_file", VtResolvePathCase(idr.m_strDocPath.str())}};
  }
};

const IdrisiDriver kDriver;
const RegisterDriver kRegistered(130, &kDriver);

}  // namespace
}  // namespace vtfmt
