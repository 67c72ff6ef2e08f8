// Feeds arbitrary bytes to the NSDTF reader through the file dialog's
// answer, then reads every value it reports.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/mfc/CFileDialog.h"
#include "raster/CImgFileGrid.h"

namespace {
std::string Path() {
  static const std::string path = [] {
    char templ[] = "/tmp/vtfmt-fuzz-nsdtf-XXXXXX";
    return std::string(mkdtemp(templ) ? templ : "/tmp") + "/g.txt";
  }();
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(Path().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  CImgFileGrid grid;
  grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  CFileDialog::SetNextAnswer(Path().c_str());
  grid.LoadImage();
  // Every index below the value count must be inside the arrays.
  volatile long sum = 0;  // keeps the reads
  for (int i = 0; i < grid.m_nValueCount; ++i) {
    if (grid.m_pIntValues) sum += grid.m_pIntValues[i];
    if (grid.m_pCharValues) sum += grid.m_pCharValues[i].GetLength();
    if (grid.m_pIntPairs) sum += grid.m_pIntPairs[2 * i + 1];
    if (grid.m_pCharPairs) sum += grid.m_pCharPairs[i].m_nCount;
  }
  // A second load replaces the arrays.
  CFileDialog::SetNextAnswer(Path().c_str());
  grid.LoadImage();
  return 0;
}
