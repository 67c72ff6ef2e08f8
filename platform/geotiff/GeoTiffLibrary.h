// The GeoTIFF library (and the projection library under it) is loaded when
// a TIFF first needs it rather than with the process: its dependencies
// (network, cryptography, SQLite) take most of a short run's start-up.
// The TIFF driver calls the library's own functions by their own names;
// GeoTiffLibrary.cpp defines them, hidden inside this library, and forwards
// each call to the loaded one.
#pragma once

namespace vtgeotiff {

// True when the library is loaded (loading it on the first call); false
// when it cannot be, and the forwarding functions then report failure
// (no key handle, no keys, no definition).
bool Available();

}  // namespace vtgeotiff
