// The MrSID decoding SDK, as far as the MrSID reader uses it: the name of
// a file, the file and its image (bands, levels, size, colour
// space, background pixel), a navigator that places a scene over one level
// of the image and loads it into an image buffer, the buffer's description,
// and the exception every failing call throws.
//
// The vendor's decoder is not available on this system: images are decoded
// by the geodata library, so every raster it opens (JPEG 2000 through its
// OpenJPEG driver, GeoTIFF, PNG, ...) can be read. A genuine MrSID file that
// the geodata library cannot decode fails to open with an exception that
// says which decoder is missing.
//
// Level L of an image is the image reduced by 2^L: round(width / 2^L) x
// round(height / 2^L) pixels (halves rounded up), pixel (x, y) covering the
// full-resolution pixels from (x 2^L, y 2^L) to ((x + 1) 2^L, (y + 1) 2^L),
// area-averaged (from the file's own reduced copies where it holds them).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace LizardTech {

// What every failing call throws.
class Exception : public std::exception {
 public:
  explicit Exception(std::string text) : m_text(std::move(text)) {}
  const char* what() const noexcept override { return m_text.c_str(); }

 private:
  std::string m_text;
};

// Colour spaces of images and image buffers.
enum ColorSpace { COLORSPACE_RGB = 0, COLORSPACE_GREYSCALE = 3 };
// The point of the scene that a resize keeps in place.
enum ReferencePoint { REFERENCE_TOPLEFT = 0, REFERENCE_CENTER = 1 };
enum MemoryModel { MEMORY_MODEL_DEFAULT = 0 };

// Prepares the decoders; safe to call any number of times.
class Trans {
 public:
  static void initialize();
};

class FileName {
 public:
  explicit FileName(const std::string& path) : m_path(path) {}
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// One sample per band.
class Pixel {
 public:
  explicit Pixel(int bands = 0) : m_samples(static_cast<size_t>(bands > 0 ? bands : 0), 0) {}
  int nband() const { return static_cast<int>(m_samples.size()); }
  unsigned char sample(int band) const { return band >= 0 && band < nband() ? m_samples[band] : 0; }
  void setSample(int band, unsigned char value) {
    if (band >= 0 && band < nband()) m_samples[band] = value;
  }

 private:
  std::vector<unsigned char> m_samples;
};

struct ImageData;

// An image: a handle that copies share; a navigator keeps its image open
// after the file object is gone.
class MrSIDImage {
 public:
  int nband() const;
  // Levels: 1 plus the reductions by two the image offers (the file's own
  // reduced copies, and halvings while the smaller side keeps 32 pixels).
  int nlev() const;
  int width() const;
  int height() const;
  // Greyscale for one or two bands of grey (the second often alpha), RGB
  // otherwise (a colour table gives three bands of its colours).
  ColorSpace colorSpace() const;
  // The value where the file has no data (its no-data values, else 0).
  const Pixel& backgroundPixel() const;

 private:
  friend class MrSIDFile;
  friend class MrSIDNavigator;
  std::shared_ptr<ImageData> m_data;
};

class MrSIDFile {
 public:
  // Opens the image; throws when it cannot be read.
  explicit MrSIDFile(const FileName& file, MemoryModel model = MEMORY_MODEL_DEFAULT);
  const MrSIDImage& image() const { return m_image; }

 private:
  MrSIDImage m_image;
};

// How pixels lie in an image buffer.
class ImageBufferInfo {
 public:
  ColorSpace colorSpace = COLORSPACE_RGB;
  int pixelStride = 3;           // bytes from one pixel to the next
  int sampleMap[3] = {0, 1, 2};  // the colour (0 red, 1 green, 2 blue) of each byte of a pixel
  // Set directly by the caller: bytes before the first row, and the
  // multiple of bytes each row is padded to.
  int dataOffset = 0;
  int rowAlignment = 1;

  void setColorSpace(ColorSpace space) { colorSpace = space; }
  void setPixelStride(int stride) { pixelStride = stride; }
  void setSampleMap(int first, int second, int third) {
    sampleMap[0] = first;
    sampleMap[1] = second;
    sampleMap[2] = third;
  }
  // Bytes of one row of `width` pixels, padded; -1 when the description is
  // not one a buffer can have (the checks of ImageBuffer).
  long long rowBytes(int width) const;
};

// Caller's memory seen through a description: width x height pixels from
// `data` + dataOffset, rows rowBytes(width) apart. The memory must hold
// dataOffset + height x rowBytes(width) bytes.
class ImageBuffer {
 public:
  // Throws for a null pointer, a size below 1 or a description no buffer
  // can have (a stride below its samples or above 64, a colour outside 0 to
  // 2, an alignment outside 1 to 64, a negative offset).
  ImageBuffer(int width, int height, const ImageBufferInfo& info, unsigned char* data);
  // The pixel written where the scene lies outside the image.
  void setDefaultPixelValue(const Pixel& pixel) { m_default = pixel; }

 private:
  friend class MrSIDNavigator;
  int m_width, m_height;
  ImageBufferInfo m_info;
  unsigned char* m_data;
  long long m_rowBytes;
  Pixel m_default;
};

// A scene: a rectangle of pixels at one level of the image, placed by its
// centre. It starts at level 0, one pixel large, at (0, 0).
class MrSIDNavigator {
 public:
  explicit MrSIDNavigator(const MrSIDImage& image);
  const MrSIDImage& image() const { return m_image; }

  // Goes to `level` keeping the centre over the same place of the image.
  void zoomTo(int level);
  // Makes the scene width x height pixels, keeping `reference` in place.
  void resize(int width, int height, ReferencePoint reference);
  // Centres the scene on pixel (x, y) of level `level`.
  void moveTo(long long x, long long y, int level);
  // Decodes the scene into `buffer`, whose size must be the scene's; parts
  // of the scene outside the image get the buffer's default pixel.
  void loadImage(ImageBuffer& buffer);

  int level() const { return m_level; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  // The scene's first pixel at its level: the centre less half the size.
  long long left() const { return m_centreX - m_width / 2; }
  long long top() const { return m_centreY - m_height / 2; }

 private:
  void CheckLevel(int level) const;
  MrSIDImage m_image;
  int m_level = 0;
  int m_width = 1, m_height = 1;
  long long m_centreX = 0, m_centreY = 0;
};

}  // namespace LizardTech
