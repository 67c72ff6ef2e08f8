"""Character-set conversion through iconv."""
from . import _vtfmt


def convert(data, from_, to):
    """`data` (bytes) in the character set named `from_`, converted to `to`.
    A sequence that cannot be converted raises vtfmt.Error with its offset."""
    return _vtfmt._text_convert(bytes(data), from_, to)
