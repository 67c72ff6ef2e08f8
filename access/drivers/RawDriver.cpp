// The raw raster: read-only; the sidecar is read in OpenForRead and the
// bounds live in the driver's own member.
#include "access/RasterDriver.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtToolkit.h"
#include "raster/CImgFileRaw.h"

namespace vtfmt {
namespace {

class RawDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "raw"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".raw", ".ifo"}; }

  // Any name whose base has an .ifo sidecar beside it is a raw raster too.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    ProbeScore byName = RasterDriver::Probe(path, head);
    if (byName != kNoMatch) return byName;
    return CVtToolkit::IsFileExisted(CVtToolkit::ChangeExtName(path.c_str(), ".ifo")) ? kSidecar : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<CImgFileRaw>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (!file.OpenForRead(path.c_str())) {
      reason = "cannot open the raw raster";
      return false;
    }
    reason = CutRows(file, 0, file.GetWidthBytes(), file.GetWidthBytes(), file.GetHeight());
    if (!reason.empty()) {
      file.Close();
      return false;
    }
    return true;
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    bounds = static_cast<CImgFileRaw&>(file).m_Bounds;
    return true;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CString ifo = CVtToolkit::ChangeExtName(file.GetFilePath(), ".ifo");
    return {{"raw_file", file.GetFilePath().str()}, {"ifo_file", VtResolvePathCase(ifo.str())}};
  }
};

const RawDriver kDriver;
const RegisterDriver kRegistered(10, &kDriver);

}  // namespace

}  // namespace vtfmt
