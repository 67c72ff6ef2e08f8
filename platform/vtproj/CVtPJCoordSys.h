// The platform's projection library (vtproj): a coordinate system built from
// a geographic system (datum with its spheroid, prime meridian), a projection
// with its parameters and the map unit. Drivers fill it from what their
// files say; the platform reprojects with it. Here it holds the codes and
// values it is given and writes the system out as OGC WKT (version 1), the
// form GIS software reads.
//
// Units: the map unit is given as tenths of a millimetre per unit (metre
// 10000, foot 3048). Angles are in degrees. False easting and northing are
// held in metres, whatever the map unit.
#pragma once

#include <string>

#include "platform/mfc/CString.h"

// Projection types of CVtPJObject; each value names one projection method.
enum VtPJProjectionType : long {
  VTPJ_GEOGRAPHIC = -1,  // longitude and latitude, no projection
  VTPJ_UNKNOWN = 0,
  VTPJ_PLATE_CARREE = 43001,
  VTPJ_EQUIDISTANT_CYLINDRICAL = 43002,
  VTPJ_MILLER_CYLINDRICAL = 43003,
  VTPJ_MERCATOR = 43004,  // latitude of origin: the latitude of true scale
  VTPJ_GAUSS_KRUGER = 43005,
  VTPJ_TRANSVERSE_MERCATOR = 43006,
  VTPJ_ALBERS = 43007,
  VTPJ_SINUSOIDAL = 43008,
  VTPJ_MOLLWEIDE = 43009,
  VTPJ_ECKERT_VI = 43010,
  VTPJ_ECKERT_V = 43011,
  VTPJ_ECKERT_IV = 43012,
  VTPJ_ECKERT_III = 43013,
  VTPJ_ECKERT_II = 43014,
  VTPJ_ECKERT_I = 43015,
  VTPJ_GALL_STEREOGRAPHIC = 43016,
  VTPJ_BEHRMANN = 43017,
  VTPJ_WINKEL_I = 43018,
  VTPJ_WINKEL_II = 43019,
  VTPJ_LAMBERT_CONFORMAL_CONIC = 43020,
  VTPJ_POLYCONIC = 43021,
  VTPJ_QUARTIC_AUTHALIC = 43022,
  VTPJ_LOXIMUTHAL = 43023,
  VTPJ_BONNE = 43024,  // first standard parallel: the one parallel
  VTPJ_STEREOGRAPHIC = 43026,
  VTPJ_EQUIDISTANT_CONIC = 43027,
  VTPJ_CASSINI = 43028,
  VTPJ_VAN_DER_GRINTEN = 43029,
  VTPJ_ROBINSON = 43030,
  VTPJ_TWO_POINT_EQUIDISTANT = 43031,
  VTPJ_AZIMUTHAL_EQUIDISTANT = 43032,
  VTPJ_LAMBERT_AZIMUTHAL_EQUAL_AREA = 43033,
  VTPJ_GNOMONIC = 43036,
  // Polar stereographic; latitude of origin: the latitude of true scale,
  // whose sign gives the pole.
  VTPJ_POLAR_STEREOGRAPHIC = 43055,
};

// Unit codes in tenths of a millimetre.
enum : long { VTPJ_UNIT_METRE = 10000, VTPJ_UNIT_FOOT = 3048 };

class CVtPJSpheroid {
 public:
  CString m_strName;
  long m_nType = 0;             // the spheroid's code, when it has one
  double m_dSemiMajorAxis = 0;  // metres
  double m_dFlattening = 0;     // (a - b) / a

  void Set(const CString& name, double semiMajorAxis, double flattening);
  void SetType(long type) { m_nType = type; }
  // A positive, finite semi-major axis and a flattening in [0, 1).
  bool IsValid() const;
};

class CVtPJDatum {
 public:
  CString m_strName;
  long m_nType = 0;  // the datum's code, when it has one
  CVtPJSpheroid m_Spheroid;

  void Set(const CString& name, const CVtPJSpheroid& spheroid);
  void SetType(long type) { m_nType = type; }
};

class CVtPJPrimeMeridian {
 public:
  CString m_strName;
  double m_dLongitude = 0;  // degrees east of Greenwich

  void Set(const CString& name, double longitude);
};

class CVtPJGeoCoordSys {
 public:
  CString m_strName;
  long m_nType = 0;  // the geographic system's code, when it has one
  CVtPJDatum m_Datum;
  CVtPJPrimeMeridian m_PrimeMeridian;
  long m_nUnit = VTPJ_UNIT_METRE;

  void Set(const CString& name, const CVtPJDatum& datum, const CVtPJPrimeMeridian& primeMeridian, long unit);
  void SetType(long type) { m_nType = type; }
};

// The projection method.
class CVtPJObject {
 public:
  long m_nType = VTPJ_UNKNOWN;  // a VtPJProjectionType

  void SetType(long type) { m_nType = type; }
  long GetType() const { return m_nType; }
};

// Projection parameters; angles in degrees, false easting and northing in
// metres.
class CVtPJParams {
 public:
  double m_dScaleFactor = 1.0;
  double m_dStandardParallel1 = 0;
  double m_dStandardParallel2 = 0;
  double m_dCentralMeridian = 0;
  double m_dLatitudeOfOrigin = 0;
  double m_dFalseEasting = 0;
  double m_dFalseNorthing = 0;
  int m_nZone = 0;  // UTM zone, when the system is one (south: negative)
};

class CVtPJCoordSys {
 public:
  CString m_strName;
  CVtPJGeoCoordSys m_GeoCoordSys;
  CVtPJObject m_Projection;
  CVtPJParams m_Params;
  long m_nUnit = VTPJ_UNIT_METRE;
  bool m_bEarth = false;  // geographic: no projection
  // The map unit exactly, for units a code in tenths of a millimetre cannot
  // hold (the US survey foot); set after Set, else taken from the code.
  CString m_strUnitName;
  double m_dUnitMetres = 0;

  void SetName(const CString& name) { m_strName = name; }
  // A geographic system: longitude and latitude on `geoCoordSys`.
  void SetEarth(const CVtPJGeoCoordSys& geoCoordSys, long unit);
  // A projected system.
  void Set(const CString& name, const CVtPJGeoCoordSys& geoCoordSys, const CVtPJObject& projection,
           const CVtPJParams& params, long unit);
  void SetLinearUnit(const CString& name, double metres);
  bool IsGeographic() const { return m_bEarth; }
  // Metres in one map unit.
  double UnitMetres() const;

  // The system as OGC WKT 1 (GEOGCS or PROJCS); empty when it is neither
  // set nor of a projection type that has a WKT form.
  std::string ExportToWkt() const;
  // True when ExportToWkt writes projection type `type`.
  static bool HasWktForm(long type);
};
