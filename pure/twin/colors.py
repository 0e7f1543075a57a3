"""ANSI 颜色码定义与转换工具。

支持:
- 4/8 色基本颜色 (标准 + 高亮)
- 256 色扩展调色板
- 24 位真 RGB 色彩
"""

from __future__ import annotations

# The future import binds a module attribute the extension does not have.
del annotations

import re
from typing import Optional, Tuple

# What the extension's frame does for its functions (argument checks,
# unpacking): the one name here that the extension's namespace lacks.
from . import _frame

ESC = "\x1b["
RESET_FG = f"{ESC}39m"
RESET_BG = f"{ESC}49m"

NAMED_COLORS = {
    "black": 30,
    "red": 31,
    "green": 32,
    "yellow": 33,
    "blue": 34,
    "magenta": 35,
    "cyan": 36,
    "white": 37,
    "bright_black": 90,
    "bright_red": 91,
    "bright_green": 92,
    "bright_yellow": 93,
    "bright_blue": 94,
    "bright_magenta": 95,
    "bright_cyan": 96,
    "bright_white": 97,
}

COLOR_ALIASES = {
    "grey": "bright_black",
    "gray": "bright_black",
    "purple": "magenta",
    "bright_grey": "bright_black",
    "bright_gray": "bright_black",
    "bright_purple": "bright_magenta",
}

_HEX_RE = re.compile("^#([0-9a-fA-F]{6})$")
_SHORT_HEX_RE = re.compile("^#([0-9a-fA-F]{3})$")

# Multi-line docstrings are assigned after each definition: the compiler
# strips the indentation of docstring literals, and these keep theirs.
#
# Each function starts with the checks the extension makes while binding its
# arguments (exact str, int coercion): the test inline, the rest in _frame.


def parse_hex(color: str) -> Tuple[int, int, int]:
    if type(color) is not str:
        raise _frame.not_str("color", color)
    m = _HEX_RE.match(color)
    if m:
        h = m.group(1)
        return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16))
    m = _SHORT_HEX_RE.match(color)
    if m:
        h = m.group(1)
        return (int(h[0] * 2, 16), int(h[1] * 2, 16), int(h[2] * 2, 16))
    raise ValueError(f"无法解析十六进制颜色: {color!r}，期望格式 #RGB 或 #RRGGBB")


parse_hex.__doc__ = "将十六进制颜色字符串解析为 (R, G, B) 元组。\n\n    支持 #RGB 和 #RRGGBB 格式。\n    "


def rgb_to_ansi256(r: int, g: int, b: int) -> int:
    """将 RGB 值近似映射到 256 色调色板索引。"""
    if not (type(r) is int and type(g) is int and type(b) is int):
        r, g, b = _frame.ints(r, g, b)
    # Components outside 0..255 are clamped first, so the result is always
    # an index of the palette.
    r = 0 if r < 0 else 255 if r > 255 else r
    g = 0 if g < 0 else 255 if g > 255 else g
    b = 0 if b < 0 else 255 if b > 255 else b
    if r == g == b:
        if r < 8:
            return 16
        if r > 248:
            return 231
        return round((r - 8) / 247 * 24.0) + 232
    return 16 + 36 * round(r / 255 * 5.0) + 6 * round(g / 255 * 5.0) + round(b / 255 * 5.0)


def fg_code(color: str | int | Tuple[int, int, int]) -> str:
    result = _color_code(color, foreground=True)
    if result is None or type(result) is str:
        return result
    raise TypeError(f"Expected str, got {type(result).__name__[:200]}")


fg_code.__doc__ = (
    "生成前景色 ANSI 转义序列。\n\n    参数:\n"
    "        color: 颜色名称 (如 'red')、十六进制字符串 (如 '#ff0000')、\n"
    "               256 色索引 (0-255)、或 RGB 元组 (r, g, b)。\n    "
)


def bg_code(color: str | int | Tuple[int, int, int]) -> str:
    """生成背景色 ANSI 转义序列。"""
    result = _color_code(color, foreground=False)
    if result is None or type(result) is str:
        return result
    raise TypeError(f"Expected str, got {type(result).__name__[:200]}")


def _color_code(color: str | int | Tuple[int, int, int], *, foreground: bool) -> str:
    """统一的颜色码生成逻辑。"""
    foreground = True if foreground else False
    layer = "38" if foreground else "48"

    if isinstance(color, tuple):
        items = color
        validate = True
    elif isinstance(color, int):
        if 0 <= color <= 255:
            # An int subclass (bool, IntEnum) is written as its int value.
            return f"{ESC}{layer};5;{int.__repr__(color)}m"
        raise ValueError(f"256 色索引须在 0-255 范围内，收到: {str(color)}")
    elif not isinstance(color, str):
        raise TypeError(f"不支持的颜色类型: {type(color).__name__}")
    elif color.startswith("#"):
        items = parse_hex(color)
        validate = False
    else:
        name = color.lower().replace("-", "_").replace(" ", "_")
        name = COLOR_ALIASES.get(name, name)
        if name not in NAMED_COLORS:
            raise ValueError(
                f"未知颜色名称: {color!r}。可用: {', '.join(sorted(NAMED_COLORS))}"
            )
        code = NAMED_COLORS[name]
        if not foreground:
            if code < 40:
                code = code + 10
            elif 90 <= code <= 97:
                code = code + 10
        return f"{ESC}{int.__repr__(code) if isinstance(code, int) else code}m"

    # r, g, b = items, with the messages of the extension's unpacking.
    if (type(items) is tuple or type(items) is list) and len(items) == 3:
        r, g, b = items
    else:
        r, g, b = _frame.unpack(items, 3)
    if validate:
        _validate_rgb(r, g, b)
    # Each component is written as the decimal text of its int value.
    if not (type(r) is int and type(g) is int and type(b) is int):
        r, g, b = _frame.ints(r, g, b)
    return f"{ESC}{layer};2;{r};{g};{b}m"


def _validate_rgb(r: int, g: int, b: int) -> None:
    if not (type(r) is int and type(g) is int and type(b) is int):
        r, g, b = _frame.ints(r, g, b)
    for letter, value in (("R", r), ("G", g), ("B", b)):
        if not 0 <= value <= 255:
            raise ValueError(f"{letter} 分量须在 0-255 范围内，收到: {value!r}")


__test__ = {}
