#include "platform/vtproj/CVtPJCoordSys.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

void CVtPJSpheroid::Set(const CString& name, double semiMajorAxis, double flattening) {
  m_strName = name;
  m_dSemiMajorAxis = semiMajorAxis;
  m_dFlattening = flattening;
}

bool CVtPJSpheroid::IsValid() const {
  return std::isfinite(m_dSemiMajorAxis) && m_dSemiMajorAxis > 0 && m_dFlattening >= 0 && m_dFlattening < 1;
}

void CVtPJDatum::Set(const CString& name, const CVtPJSpheroid& spheroid) {
  m_strName = name;
  m_Spheroid = spheroid;
}

void CVtPJPrimeMeridian::Set(const CString& name, double longitude) {
  m_strName = name;
  m_dLongitude = longitude;
}

void CVtPJGeoCoordSys::Set(const CString& name, const CVtPJDatum& datum,
                           const CVtPJPrimeMeridian& primeMeridian, long unit) {
  m_strName = name;
  m_Datum = datum;
  m_PrimeMeridian = primeMeridian;
  m_nUnit = unit;
}

void CVtPJCoordSys::SetEarth(const CVtPJGeoCoordSys& geoCoordSys, long unit) {
  m_GeoCoordSys = geoCoordSys;
  m_Projection.SetType(VTPJ_GEOGRAPHIC);
  m_Params = CVtPJParams();
  m_nUnit = unit;
  m_bEarth = true;
  m_strUnitName.Empty();
  m_dUnitMetres = 0;
}

void CVtPJCoordSys::Set(const CString& name, const CVtPJGeoCoordSys& geoCoordSys,
                        const CVtPJObject& projection, const CVtPJParams& params, long unit) {
  m_strName = name;
  m_GeoCoordSys = geoCoordSys;
  m_Projection = projection;
  m_Params = params;
  m_nUnit = unit;
  m_bEarth = false;
  m_strUnitName.Empty();
  m_dUnitMetres = 0;
}

void CVtPJCoordSys::SetLinearUnit(const CString& name, double metres) {
  m_strUnitName = name;
  m_dUnitMetres = metres;
}

double CVtPJCoordSys::UnitMetres() const {
  if (m_dUnitMetres > 0) return m_dUnitMetres;
  return m_nUnit > 0 ? m_nUnit / 10000.0 : 1.0;
}

namespace {

// WKT names of datums that files name otherwise.
const std::pair<const char*, const char*> kDatumNames[] = {
    {"WGS 84", "WGS_1984"},
    {"WGS84", "WGS_1984"},
    {"WGS 1972", "WGS_1972"},
    {"WGS 72", "WGS_1972"},
    {"NAD27", "North_American_Datum_1927"},
    {"NAD83", "North_American_Datum_1983"},
    {"GDA94", "Geocentric_Datum_of_Australia_1994"},
    {"Beijing1954(taiwan)", "Beijing_1954"},
};

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? '\'' : c;
  return out + "\"";
}

// 15 significant digits, as WKT writers print them: angles converted from
// radians lose their last-digit noise (-118.00000000000001 is -118).
std::string Num(double v) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15);
  return std::string(text, r.ptr);
}

std::string Authority(long code) {
  return code > 0 ? ",AUTHORITY[\"EPSG\",\"" + std::to_string(code) + "\"]" : std::string();
}

std::string DatumName(const CString& name) {
  for (const auto& known : kDatumNames)
    if (name.CompareNoCase(known.first) == 0) return known.second;
  return name.IsEmpty() ? "unknown" : name.str();
}

std::string GeogCS(const CVtPJGeoCoordSys& geo) {
  const CVtPJDatum& datum = geo.m_Datum;
  const CVtPJSpheroid& sph = datum.m_Spheroid;
  const double inverseFlattening = sph.m_dFlattening > 0 ? 1.0 / sph.m_dFlattening : 0.0;
  std::string name = geo.m_strName.IsEmpty() ? datum.m_strName.str() : geo.m_strName.str();
  if (name.empty()) name = "unknown";
  const CVtPJPrimeMeridian& pm = geo.m_PrimeMeridian;
  std::string pmName = pm.m_strName.str();
  if (pmName.empty()) pmName = pm.m_dLongitude == 0 ? "Greenwich" : "unnamed";
  return "GEOGCS[" + Quoted(name) + ",DATUM[" + Quoted(DatumName(datum.m_strName)) + ",SPHEROID[" +
         Quoted(sph.m_strName.IsEmpty() ? "unknown" : sph.m_strName.str()) + "," + Num(sph.m_dSemiMajorAxis) +
         "," + Num(inverseFlattening) + Authority(sph.m_nType) + "]" + Authority(datum.m_nType) +
         "],PRIMEM[" + Quoted(pmName) + "," + Num(pm.m_dLongitude) + "],UNIT[\"degree\",0.0174532925199433]" +
         Authority(geo.m_nType) + "]";
}

// The WKT projection name and parameters (angles in degrees, false easting
// and northing in the map unit) of a projection type, or null.
struct Projection {
  const char* name;
  std::vector<std::pair<const char*, double>> params;
};

bool Describe(long type, const CVtPJParams& p, double unitMetres, Projection& out) {
  const double fe = p.m_dFalseEasting / unitMetres, fn = p.m_dFalseNorthing / unitMetres;
  const double cm = p.m_dCentralMeridian, lat = p.m_dLatitudeOfOrigin;
  const double sp1 = p.m_dStandardParallel1, sp2 = p.m_dStandardParallel2, k = p.m_dScaleFactor;
  // Methods whose only parameter is the central meridian, and their names.
  static const std::pair<long, const char*> kCentralMeridianOnly[] = {
      {VTPJ_VAN_DER_GRINTEN, "VanDerGrinten"},
      {VTPJ_MOLLWEIDE, "Mollweide"},
      {VTPJ_ECKERT_I, "Eckert_I"},
      {VTPJ_ECKERT_II, "Eckert_II"},
      {VTPJ_ECKERT_III, "Eckert_III"},
      {VTPJ_ECKERT_IV, "Eckert_IV"},
      {VTPJ_ECKERT_V, "Eckert_V"},
      {VTPJ_ECKERT_VI, "Eckert_VI"},
      {VTPJ_GALL_STEREOGRAPHIC, "Gall_Stereographic"},
      {VTPJ_QUARTIC_AUTHALIC, "Quartic_Authalic"}};
  for (const auto& only : kCentralMeridianOnly)
    if (only.first == type) {
      out = {only.second, {{"central_meridian", cm}, {"false_easting", fe}, {"false_northing", fn}}};
      return true;
    }
  switch (type) {
    case VTPJ_TRANSVERSE_MERCATOR:
    case VTPJ_GAUSS_KRUGER:
      out = {"Transverse_Mercator",
             {{"latitude_of_origin", lat},
              {"central_meridian", cm},
              {"scale_factor", k},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_ALBERS:
      out = {"Albers_Conic_Equal_Area",
             {{"standard_parallel_1", sp1},
              {"standard_parallel_2", sp2},
              {"latitude_of_center", lat},
              {"longitude_of_center", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_LAMBERT_CONFORMAL_CONIC:
      out = {"Lambert_Conformal_Conic_2SP",
             {{"standard_parallel_1", sp1},
              {"standard_parallel_2", sp2},
              {"latitude_of_origin", lat},
              {"central_meridian", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_MERCATOR:
      if (lat == 0)
        out = {
            "Mercator_1SP",
            {{"central_meridian", cm}, {"scale_factor", k}, {"false_easting", fe}, {"false_northing", fn}}};
      else
        out = {"Mercator_2SP",
               {{"standard_parallel_1", lat},
                {"central_meridian", cm},
                {"false_easting", fe},
                {"false_northing", fn}}};
      return true;
    case VTPJ_POLAR_STEREOGRAPHIC:
    case VTPJ_STEREOGRAPHIC:
      out = {type == VTPJ_STEREOGRAPHIC ? "Stereographic" : "Polar_Stereographic",
             {{"latitude_of_origin", lat},
              {"central_meridian", cm},
              {"scale_factor", k},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_LAMBERT_AZIMUTHAL_EQUAL_AREA:
    case VTPJ_AZIMUTHAL_EQUIDISTANT:
      out = {type == VTPJ_AZIMUTHAL_EQUIDISTANT ? "Azimuthal_Equidistant" : "Lambert_Azimuthal_Equal_Area",
             {{"latitude_of_center", lat},
              {"longitude_of_center", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_POLYCONIC:
    case VTPJ_GNOMONIC:
    case VTPJ_CASSINI:
    case VTPJ_LOXIMUTHAL:
      out = {type == VTPJ_POLYCONIC  ? "Polyconic"
             : type == VTPJ_GNOMONIC ? "Gnomonic"
             : type == VTPJ_CASSINI  ? "Cassini_Soldner"
                                     : "Loximuthal",
             {{"latitude_of_origin", lat},
              {"central_meridian", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_EQUIDISTANT_CONIC:
      out = {"Equidistant_Conic",
             {{"standard_parallel_1", sp1},
              {"standard_parallel_2", sp2},
              {"latitude_of_center", lat},
              {"longitude_of_center", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_SINUSOIDAL:
    case VTPJ_ROBINSON:
      out = {type == VTPJ_SINUSOIDAL ? "Sinusoidal" : "Robinson",
             {{"longitude_of_center", cm}, {"false_easting", fe}, {"false_northing", fn}}};
      return true;
    case VTPJ_MILLER_CYLINDRICAL:
      out = {"Miller_Cylindrical",
             {{"latitude_of_center", 0},
              {"longitude_of_center", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_WINKEL_I:
    case VTPJ_WINKEL_II:
      out = {type == VTPJ_WINKEL_I ? "Winkel_I" : "Winkel_II",
             {{"central_meridian", cm},
              {"standard_parallel_1", sp1},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    case VTPJ_BONNE:
      out = {"Bonne",
             {{"standard_parallel_1", sp1},
              {"central_meridian", cm},
              {"false_easting", fe},
              {"false_northing", fn}}};
      return true;
    default:
      return false;
  }
}

std::string UnitName(const CVtPJCoordSys& cs) {
  if (!cs.m_strUnitName.IsEmpty()) return cs.m_strUnitName.str();
  if (cs.m_dUnitMetres <= 0 && cs.m_nUnit == VTPJ_UNIT_METRE) return "metre";
  if (cs.m_dUnitMetres <= 0 && cs.m_nUnit == VTPJ_UNIT_FOOT) return "foot";
  return "unknown";
}

}  // namespace

bool CVtPJCoordSys::HasWktForm(long type) {
  Projection unused;
  return type == VTPJ_GEOGRAPHIC || Describe(type, CVtPJParams(), 1.0, unused);
}

std::string CVtPJCoordSys::ExportToWkt() const {
  const CVtPJSpheroid& sph = m_GeoCoordSys.m_Datum.m_Spheroid;
  if (!sph.IsValid()) return std::string();
  if (m_bEarth) return GeogCS(m_GeoCoordSys);
  const double unit = UnitMetres();
  Projection projection;
  if (!(unit > 0) || !std::isfinite(unit) || !Describe(m_Projection.GetType(), m_Params, unit, projection))
    return std::string();
  std::string wkt = "PROJCS[" + Quoted(m_strName.IsEmpty() ? "unnamed" : m_strName.str()) + "," +
                    GeogCS(m_GeoCoordSys) + ",PROJECTION[" + Quoted(projection.name) + "]";
  for (const auto& param : projection.params)
    wkt += ",PARAMETER[" + Quoted(param.first) + "," + Num(param.second) + "]";
  return wkt + ",UNIT[" + Quoted(UnitName(*this)) + "," + Num(unit) + "]]";
}
