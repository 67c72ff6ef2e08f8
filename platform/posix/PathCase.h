// Case-insensitive lookup of file names.
// The data files come from Windows, where names are case-insensitive, and the
// drivers derive the names of sidecar files (".ifo", ".HDR", "hdr.adf", ".E01")
// in whatever case their author wrote. Every file-layer entry point that opens
// an existing file passes the name through VtResolvePathCase first.
#pragma once

#include <string>

// Returns `path` itself when it exists. Otherwise, when its directory exists,
// looks in that directory for an entry whose name equals the last component
// ignoring ASCII case: exactly one such entry gives directory + entry; none or
// several (ambiguous) give `path` unchanged. Only the last component is
// resolved; a path without '/' is looked up in the current directory.
std::string VtResolvePathCase(const std::string& path);
