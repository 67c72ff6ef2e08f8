// FAST scenes with Landsat-7 names: FILE names one band file ("L7..B10" to
// "L7..B80"); its scene header ("..HPN", "..HRF" or "..HTM") is found
// beside it. Read-only. 8-bit bands are grey pictures, 16-bit bands
// unsigned cells. Rows lie the header's REC SIZE apart; a size of zero or
// below, or records shorter than a row, are refused naming them. A row the
// band file does not hold in full fails.
#include <string>

#include "access/RasterDriver.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "raster/CImgFileFst.h"

namespace vtfmt {
namespace {

class FastFile : public CImgFileFst {
 public:
  using CImgFileFst::FindHeaderFile;
};

// 1 for a band file's name, 2 for a header's, 0 for neither.
int NameKind(const std::string& path) {
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(path.c_str(), drive, dir, name, ext);
  int isHeader = 0;
  if (!CImgFileFst::GetFileType(name, isHeader)) return 0;
  return isHeader ? 2 : 1;
}

class FastDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "fast"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".fst"}; }

  // The names say it: band and header files alike, so that naming a
  // header gets a reason rather than no driver.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>&) const override {
    return NameKind(path) != 0 ? kExtension : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<FastFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (NameKind(path) == 2) {
      reason = "this is a scene header; name one of the band files it lists";
      return false;
    }
    if (!file.OpenForRead(path.c_str())) {
      reason = "cannot open the file";
      return false;
    }
    if (file.LoadImage() < 0) {
      file.Close();
      const CString& refusal = static_cast<FastFile&>(file).m_strRefusal;
      if (!refusal.IsEmpty()) {
        reason = refusal.str();
        return false;
      }
      reason = "no scene header (..HPN, ..HRF or ..HTM) beside it lists this band, or its rows are longer than "
               "the band file";
      return false;
    }
    reason = CutRows(file, 0, static_cast<FastFile&>(file).m_nRecordBytes, file.GetWidthBytes(), file.GetHeight());
    if (!reason.empty()) {
      file.Close();
      return false;
    }
    if (file.GetPixelFormat() == PF_BIT8) CImgFile::CreateGrayPalette(file.m_Palette, 256);
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    const unsigned long long end =
        static_cast<unsigned long long>(row) * static_cast<FastFile&>(file).m_nRecordBytes + file.GetWidthBytes();
    if (row < 0 || end > file.GetLength()) {
      VtGetErrorMsgObj()->SetMessage(0L, CString("the band file ends before the end of the row"));
      return -1;
    }
    return file.ReadScanLine(row, line) == 1 ? static_cast<long>(file.GetWidthBytes()) : -1;
  }

  bool HoldsCells(CImgFile& file) const override { return file.GetPixelFormat() == PF_BIT16; }
  bool UnsignedCells(CImgFile&) const override { return true; }

  InfoLines ExtraInfo(CImgFile& file) const override {
    CString header;
    static_cast<FastFile&>(file).FindHeaderFile(file.GetFilePath(), header);
    return {{"header_file", VtResolvePathCase(header.str())},
            {"bits", std::to_string(CVtImgToolkit::BitCount(file.GetPixelFormat()))}};
  }
};

const FastDriver kDriver;
const RegisterDriver kRegistered(120, &kDriver);

}  // namespace
}  // namespace vtfmt
