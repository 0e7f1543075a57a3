# Type stubs for the tintara.detect extension module.

import os as os
import sys as sys
from enum import IntEnum as IntEnum
from typing import Optional as Optional

class ColorLevel(IntEnum):
    NONE = 0
    BASIC = 1
    EXTENDED = 2
    TRUECOLOR = 3

def _has_windows_console() -> bool: ...

# Any object is a stream: one without ``isatty``, or whose ``isatty()`` is
# false, is simply not a terminal.  None means sys.stdout.
def detect_color_level(stream: object | None = None) -> ColorLevel: ...
def supports_color(stream: object | None = None) -> bool: ...
def enable_windows_vt() -> bool: ...

# doctest collects extra tests from this mapping; the module sets it empty.
__test__: dict[str, object]
