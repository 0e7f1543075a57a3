"""ANSI 文本样式定义。

支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。
"""

from __future__ import annotations

# The future import binds a module attribute the extension does not have.
del annotations

# What the extension's frame does for its functions (argument checks,
# unpacking): with _sequence, the names here that the extension's namespace
# lacks.
from . import _frame

ESC = "\x1b["
RESET_ALL = f"{ESC}0m"

STYLES = {
    "bold": (1, 22),
    "dim": (2, 22),
    "italic": (3, 23),
    "underline": (4, 24),
    "blink": (5, 25),
    "blink_fast": (6, 25),
    "reverse": (7, 27),
    "hidden": (8, 28),
    "strikethrough": (9, 29),
    "strike": (9, 29),
    "conceal": (8, 28),
    "overline": (53, 55),
}


def style_on(name: str) -> str:
    """获取样式开启转义序列。"""
    return _sequence(name, 0)


def style_off(name: str) -> str:
    """获取样式关闭转义序列。"""
    return _sequence(name, 1)


def _sequence(name, which):
    """ESC + STYLES[name][which] + "m", after the exact-str check the
    extension makes while binding name, unpacking the table entry with its
    messages."""
    if type(name) is not str:
        raise _frame.not_str("name", name)
    if name not in STYLES:
        raise ValueError(f"未知样式: {name!r}。可用: {', '.join(sorted(set(STYLES)))}")
    entry = STYLES[name]
    if not ((type(entry) is tuple or type(entry) is list) and len(entry) == 2):
        entry = _frame.unpack(entry, 2)
    return f"{ESC}{entry[which]}m"


__test__ = {}
