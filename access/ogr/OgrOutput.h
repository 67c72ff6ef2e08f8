// The OGR driver that writes a file of a given extension, as ogr2ogr
// chooses it; empty when the extension says nothing.
#pragma once

#include <cctype>
#include <map>
#include <string>

inline std::string OgrDriverFor(const std::string& path) {
  size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::map<std::string, std::string> kDrivers = {
      {"shp", "ESRI Shapefile"}, {"gpkg", "GPKG"},     {"geojson", "GeoJSON"}, {"json", "GeoJSON"},
      {"csv", "CSV"},            {"gml", "GML"},       {"kml", "KML"},         {"tab", "MapInfo File"},
      {"mif", "MapInfo File"},   {"sqlite", "SQLite"}, {"fgb", "FlatGeobuf"},  {"gpx", "GPX"}};
  auto it = kDrivers.find(ext);
  return it == kDrivers.end() ? "" : it->second;
}
