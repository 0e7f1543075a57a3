# Type stubs for the tintara.colors extension module.

import re as re
from typing import Optional as Optional, Tuple as Tuple

ESC: str
RESET_FG: str
RESET_BG: str
NAMED_COLORS: dict[str, int]
COLOR_ALIASES: dict[str, str]
_HEX_RE: re.Pattern[str]
_SHORT_HEX_RE: re.Pattern[str]

def parse_hex(color: str) -> tuple[int, int, int]: ...
def rgb_to_ansi256(r: int, g: int, b: int) -> int: ...
def fg_code(color: str | int | tuple[int, int, int]) -> str: ...
def bg_code(color: str | int | tuple[int, int, int]) -> str: ...
def _color_code(color: str | int | tuple[int, int, int], *, foreground: bool) -> str: ...
def _validate_rgb(r: int, g: int, b: int) -> None: ...

# doctest collects extra tests from this mapping; the module sets it empty.
__test__: dict[str, object]
