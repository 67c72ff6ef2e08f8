// GML: a million point features and a hundred thousand polygons written and
// read through CVtVectorGML, and through OGR's GML driver (GML 3) on the same
// features, in one run; features per processor second both ways.
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "platform/vtelem/CElemGeometry.h"
#include "vector/gml/CVtVectorGML.h"

namespace {

struct Data {
  std::vector<std::string> wkt;
  const char* layer;
  OGRwkbGeometryType type;
};

Data Points(long n) {
  Data d{{}, "pts", wkbPoint};
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> x(4.5e5, 4.9e5), y(3.4e6, 3.5e6);
  for (long i = 0; i < n; ++i) {
    char text[96];
    std::snprintf(text, sizeof text, "POINT (%.3f %.3f)", x(rng), y(rng));
    d.wkt.push_back(text);
  }
  return d;
}

// Polygons of 20 vertices, a third of them with a hole.
Data Polygons(long n) {
  Data d{{}, "parcels", wkbPolygon};
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> c(0, 1e5);
  for (long i = 0; i < n; ++i) {
    double cx = c(rng), cy = c(rng);
    auto ring = [&](double r) {
      std::string s = "(";
      for (int k = 0; k <= 20; ++k) {
        double a = (k % 20) * 2 * 3.141592653589793 / 20;
        char p[64];
        std::snprintf(p, sizeof p, "%s%.3f %.3f", k ? "," : "", cx + r * std::cos(a), cy + r * std::sin(a));
        s += p;
      }
      return s + ")";
    };
    d.wkt.push_back("POLYGON (" + ring(50) + (i % 3 == 0 ? "," + ring(10) : "") + ")");
  }
  return d;
}

void WriteOurs(const Data& d, const std::string& path) {
  CVtVectorGML gml;
  gml.SetCharSet(65536);
  gml.OpenForWrite(CString(path));
  gml.SetLayerCount(1);
  gml.SetLayerInfo(0, d.layer, d.type == wkbPoint ? 1 : 5, CRect2D(), "");
  gml.SetFieldCount(0, 2);
  gml.SetFieldInfo(0, 0, "id", 4, 0);
  gml.SetFieldInfo(0, 1, "name", 10, 20);
  gml.BeginWriteRecord();
  CElemGeometry g;
  for (size_t i = 0; i < d.wkt.size(); ++i) {
    g.SetWkt(CString(d.wkt[i]));
    gml.BeginWriteOneRecord();
    gml.WriteOneGeometry(&g, d.layer);
    gml.SetFieldValue(0, COleVariant(static_cast<int32_t>(i)));
    gml.SetFieldValue(1, COleVariant(("feature " + std::to_string(i)).c_str()));
    gml.EndWriteOneRecord();
  }
  gml.EndWriteRecord();
  gml.Close();
}

long ResidentKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atol(line + 6);
  std::fclose(f);
  return kib;
}

long ReadOurs(const std::string& path, long* firstKiB = nullptr, long* peakKiB = nullptr) {
  CVtVectorGML gml;
  gml.OpenForRead(CString(path));
  long n = 0;
  while (!gml.IsEOF()) {
    if (peakKiB && n % 50000 == 0) {
      long kib = ResidentKiB();
      if (n == 0) *firstKiB = kib;
      *peakKiB = std::max(*peakKiB, kib);
    }
    CVtElement* e = nullptr;
    CString layer, id, name;
    gml.ReadOneGeometry(e, layer);
    gml.GetFieldValue(0, id);
    gml.GetFieldValue(1, name);
    delete e;
    gml.EndReadOneRecord();
    ++n;
  }
  return n;
}

void WriteOgr(const Data& d, const std::string& path) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GML");
  char format[] = "FORMAT=GML3";
  char* options[] = {format, nullptr};
  std::unique_ptr<GDALDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, options));
  OGRLayer* layer = ds->CreateLayer(d.layer, nullptr, d.type, nullptr);
  OGRFieldDefn id("id", OFTInteger), name("name", OFTString);
  layer->CreateField(&id);
  layer->CreateField(&name);
  for (size_t i = 0; i < d.wkt.size(); ++i) {
    OGRFeature f(layer->GetLayerDefn());
    OGRGeometry* g = nullptr;
    OGRGeometryFactory::createFromWkt(d.wkt[i].c_str(), nullptr, &g);
    f.SetGeometryDirectly(g);
    f.SetField(0, static_cast<int>(i));
    f.SetField(1, ("feature " + std::to_string(i)).c_str());
    if (layer->CreateFeature(&f) != OGRERR_NONE) return;
  }
}

long ReadOgr(const std::string& path) {
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  if (!ds) return -1;
  long n = 0;
  for (OGRLayer* layer : ds->GetLayers())
    for (auto& f : *layer) {
      (void)f->GetGeometryRef();
      (void)f->GetFieldAsString(1);
      ++n;
    }
  return n;
}

long Count(const char* env, long fallback) {
  const char* v = std::getenv(env);
  return v ? std::atol(v) : fallback;
}

int Run(int passes) {
  bench::ScratchDir dir;
  const Data sets[] = {Points(Count("VTFMT_BENCH_GML_POINTS", 1000000)),
                       Polygons(Count("VTFMT_BENCH_GML_POLYGONS", 100000))};
  for (const Data& d : sets) {
    const std::string ours = dir / "ours.gml", theirs = dir / "ogr.gml";
    const double n = static_cast<double>(d.wkt.size());
    double w1 = 1e300, w2 = 1e300, r1 = 1e300, r2 = 1e300;
    for (int i = 0; i < passes; ++i) {
      w1 = std::min(w1, bench::CpuSecondsOf([&] { WriteOurs(d, ours); }));
      w2 = std::min(w2, bench::CpuSecondsOf([&] { WriteOgr(d, theirs); }));
      r1 = std::min(r1, bench::CpuSecondsOf([&] {
        if (ReadOurs(ours) != static_cast<long>(d.wkt.size())) std::fprintf(stderr, "gml: our read is short\n");
      }));
      r2 = std::min(r2, bench::CpuSecondsOf([&] { ReadOgr(theirs); }));
    }
    // Reading's goal beside OGR's GML reader.
    const double readGoal = 2.0;
    std::printf("gml %-8s %7.0f features: write vtfmt %8.0f/s OGR %8.0f/s ratio %.2f; read vtfmt %8.0f/s OGR %8.0f/s: "
                "%.2fx OGR (goal %.2fx)%s\n",
                d.layer, n, n / w1, n / w2, w2 / w1, n / r1, n / r2, r2 / r1, readGoal,
                r2 / r1 >= readGoal ? "" : " BELOW GOAL");
    if (d.type == wkbPoint) {
      long first = 0, peak = 0;
      ReadOurs(ours, &first, &peak);
      std::printf("gml memory: reading %.0f features, resident %ld KiB at the first, at most %ld KiB\n", n, first, peak);
    }
    std::fflush(stdout);
  }
  return 0;
}
bench::RegisterBench gml("gml", Run);

}  // namespace
