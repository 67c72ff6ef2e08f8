"""GML 3 in the platform's schema, to and from any vector format OGR knows.
Loads the geodata library on first use."""
from . import _path


def _module():
    from . import _gml
    return _gml


def export(src, dst, charset=0):
    """Writes every layer of the vector dataset `src` to the GML file `dst`.
    Returns the layer and feature counts."""
    return _module().export(_path(src), _path(dst), charset)


def import_(src, dst, driver=None):
    """Writes the layers of the GML file `src` to `dst` through the OGR
    driver named, or the one the extension of `dst` calls for. Returns the
    layer and feature counts."""
    return _module().import_(_path(src), _path(dst), driver or "")
