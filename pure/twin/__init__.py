"""Pure-Python twin of tintara's extension modules.

``twin.colors``, ``twin.detect`` and ``twin.styles`` follow the same
algorithms as ``tintara.colors``, ``tintara.detect`` and ``tintara.styles``:
the same module attributes in the same order, the same results and the same
exception messages, including the argument checks the extension makes when
binding (exact ``str`` parameters, ``int`` coercion of ``r``, ``g``, ``b``).
Those checks and the extension's unpacking are written once, in
``twin._frame``; the modules bind it as ``_frame`` (and styles its one body
of style_on and style_off as ``_sequence``), the only names the extension's
namespaces lack.  ``twin.paint`` takes the palette and the escape-sequence
scanning from ``twin._palette`` and ``twin._escapes``, without binding either.
They serve the test suite as a second implementation (each is the other's
oracle) and the benchmarks as the interpreter baseline.  Nothing here is
installed.
"""
