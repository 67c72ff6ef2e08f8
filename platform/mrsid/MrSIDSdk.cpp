#include "platform/mrsid/MrSIDSdk.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/geodata/GeodataRaster.h"

namespace LizardTech {

struct ImageData {
  vtgeo::RasterDataset raster;
  std::string path;
  int levels = 1;
  Pixel background;
};

namespace {

// Centres are kept within this distance of the origin, far outside any
// image, so that moving between levels never overflows.
constexpr double kFar = 1099511627776.0;  // 2^40
// Levels beyond this would reduce any image below one pixel.
constexpr int kMaxLevels = 32;

long long Clamp(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<long long>(std::max(-kFar, std::min(kFar, v)));
}

// The level size of `full` pixels: halves rounded up.
long long LevelSize(int full, int level) { return static_cast<long long>(std::floor(std::ldexp(full, -level) + 0.5)); }

// A readable file named .sid or starting with the MrSID signature.
bool LooksLikeMrSID(const std::string& path) {
  char head[4] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const bool read = std::fread(head, 1, 4, f) == 4;
  std::fclose(f);
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".sid" || (read && std::memcmp(head, "msid", 4) == 0);
}

// 1 plus the reductions by two: the file's own copies of half, quarter ...
// size, and halvings while the smaller side keeps 32 pixels.
int CountLevels(const vtgeo::RasterDataset& r) {
  int fromFile = 0;
  for (const auto& o : r.Overviews()) {
    const int level = fromFile + 1;
    if (level >= kMaxLevels || std::abs(o.first - std::ldexp(r.Width(), -level)) > 1 ||
        std::abs(o.second - std::ldexp(r.Height(), -level)) > 1)
      break;
    fromFile = level;
  }
  int halvings = 0;
  while (halvings + 1 < kMaxLevels && (std::min(r.Width(), r.Height()) >> (halvings + 1)) >= 32) ++halvings;
  return 1 + std::max(fromFile, halvings);
}

}  // namespace

void Trans::initialize() { vtgeo::RasterAvailable(); }

int MrSIDImage::nband() const { return m_data ? m_data->raster.Bands() : 0; }
int MrSIDImage::nlev() const { return m_data ? m_data->levels : 0; }
int MrSIDImage::width() const { return m_data ? m_data->raster.Width() : 0; }
int MrSIDImage::height() const { return m_data ? m_data->raster.Height() : 0; }
ColorSpace MrSIDImage::colorSpace() const {
  return m_data && m_data->raster.Grey() ? COLORSPACE_GREYSCALE : COLORSPACE_RGB;
}
const Pixel& MrSIDImage::backgroundPixel() const {
  static const Pixel none;
  return m_data ? m_data->background : none;
}

MrSIDFile::MrSIDFile(const FileName& file, MemoryModel) {
  const std::string& path = file.path();
  if (path.empty()) throw Exception("no file name");
  auto data = std::make_shared<ImageData>();
  std::string reason;
  if (!data->raster.Open(path, reason)) {
    if (LooksLikeMrSID(path))
      throw Exception(path + ": a MrSID image needs LizardTech's MrSID decoder, which this system does not have"
                             " (the geodata library says: " + reason + ")");
    throw Exception(path + ": " + reason);
  }
  data->path = path;
  data->levels = CountLevels(data->raster);
  data->background = Pixel(data->raster.Bands());
  for (int b = 0; b < data->raster.Bands(); ++b) data->background.setSample(b, data->raster.Background(b));
  m_image.m_data = std::move(data);
}

long long ImageBufferInfo::rowBytes(int width) const {
  const int samples = colorSpace == COLORSPACE_GREYSCALE ? 1 : 3;
  if (width < 1 || pixelStride < samples || pixelStride > 64 || rowAlignment < 1 || rowAlignment > 64 ||
      dataOffset < 0)
    return -1;
  for (int s = 0; s < samples; ++s)
    if (sampleMap[s] < 0 || sampleMap[s] > 2) return -1;
  const long long bytes = static_cast<long long>(width) * pixelStride;
  return (bytes + rowAlignment - 1) / rowAlignment * rowAlignment;
}

ImageBuffer::ImageBuffer(int width, int height, const ImageBufferInfo& info, unsigned char* data)
    : m_width(width), m_height(height), m_info(info), m_data(data), m_rowBytes(info.rowBytes(width)) {
  if (!data) throw Exception("image buffer without memory");
  if (width < 1 || height < 1)
    throw Exception("image buffer of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  if (m_rowBytes < 0) throw Exception("image buffer description not usable");
}

MrSIDNavigator::MrSIDNavigator(const MrSIDImage& image) : m_image(image) {
  if (!image.m_data) throw Exception("navigator without an image");
}

void MrSIDNavigator::CheckLevel(int level) const {
  if (level < 0 || level >= m_image.nlev())
    throw Exception("level " + std::to_string(level) + " is not one of the image's levels 0 to " +
                    std::to_string(m_image.nlev() - 1));
}

void MrSIDNavigator::zoomTo(int level) {
  CheckLevel(level);
  m_centreX = Clamp(std::ldexp(static_cast<double>(m_centreX), m_level - level));
  m_centreY = Clamp(std::ldexp(static_cast<double>(m_centreY), m_level - level));
  m_level = level;
}

void MrSIDNavigator::resize(int width, int height, ReferencePoint reference) {
  if (width < 1 || height < 1)
    throw Exception("scene of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  if (reference == REFERENCE_TOPLEFT) {
    const long long l = left(), t = top();
    m_centreX = l + width / 2;
    m_centreY = t + height / 2;
  }
  m_width = width;
  m_height = height;
}

void MrSIDNavigator::moveTo(long long x, long long y, int level) {
  CheckLevel(level);
  m_centreX = Clamp(std::ldexp(static_cast<double>(x), level - m_level));
  m_centreY = Clamp(std::ldexp(static_cast<double>(y), level - m_level));
}

void MrSIDNavigator::loadImage(ImageBuffer& buffer) {
  if (buffer.m_width != m_width || buffer.m_height != m_height)
    throw Exception("image buffer of " + std::to_string(buffer.m_width) + " x " + std::to_string(buffer.m_height) +
                    " pixels for a scene of " + std::to_string(m_width) + " x " + std::to_string(m_height));
  const ImageData& image = *m_image.m_data;
  const ImageBufferInfo& info = buffer.m_info;
  const bool grey = info.colorSpace == COLORSPACE_GREYSCALE;
  const int samples = grey ? 1 : 3;
  // The image band of each sample: a colour of its own for images of three
  // bands or more, band 0 otherwise.
  int bands[3];
  for (int s = 0; s < samples; ++s) bands[s] = grey || image.raster.Bands() < 3 ? 0 : info.sampleMap[s];
  unsigned char* origin = buffer.m_data + info.dataOffset;
  const long long stride = info.pixelStride, rowBytes = buffer.m_rowBytes;

  // The background: the first row pixel by pixel, the others copies of it
  // (only the pixels' bytes: a wider stride keeps its bytes between them).
  unsigned char fill[3];
  for (int s = 0; s < samples; ++s) fill[s] = buffer.m_default.sample(bands[s]);
  const size_t pixelBytes = static_cast<size_t>(m_width - 1) * stride + samples;
  for (int c = 0; c < m_width; ++c) std::memcpy(origin + c * stride, fill, samples);
  if (stride == samples)
    for (int r = 1; r < m_height; ++r) std::memcpy(origin + r * rowBytes, origin, pixelBytes);
  else
    for (int r = 1; r < m_height; ++r) {
      unsigned char* p = origin + r * rowBytes;
      for (int c = 0; c < m_width; ++c) std::memcpy(p + c * stride, fill, samples);
    }

  // The part of the scene inside the level, and the full-resolution pixels
  // under it (the last level pixel may reach past the image's edge).
  const long long levelW = LevelSize(image.raster.Width(), m_level);
  const long long levelH = LevelSize(image.raster.Height(), m_level);
  const long long x0 = std::max(left(), 0LL), y0 = std::max(top(), 0LL);
  const long long x1 = std::min(left() + m_width, levelW), y1 = std::min(top() + m_height, levelH);
  if (x1 <= x0 || y1 <= y0) return;
  const long long f = 1LL << m_level;
  const long long sx0 = x0 * f, sy0 = y0 * f;
  const long long sx1 = std::min<long long>(x1 * f, image.raster.Width());
  const long long sy1 = std::min<long long>(y1 * f, image.raster.Height());
  unsigned char* at = origin + (y0 - top()) * rowBytes + (x0 - left()) * stride;
  std::string reason;
  if (!image.raster.Read(static_cast<int>(sx0), static_cast<int>(sy0), static_cast<int>(sx1 - sx0),
                         static_cast<int>(sy1 - sy0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), bands,
                         samples, at, stride, rowBytes, 1, vtgeo::kResampleAverage, reason))
    throw Exception(image.path + ": " + reason);
}

}  // namespace LizardTech
