"""ANSI 文本样式定义。

支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。
"""

from __future__ import annotations

# The future import binds a module attribute the extension does not have.
del annotations

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

# Both functions start with the exact-str check the extension makes while
# binding, and unpack the table entry with the extension's messages.


def style_on(name: str) -> str:
    """获取样式开启转义序列。"""
    if type(name) is not str:
        got = type(name).__name__[:200]
        exc = TypeError(f"Argument 'name' has incorrect type (expected str, got {got})")
        if isinstance(name, str):
            exc.add_note(
                f"tintara accepts only an exact str here: instances of subclasses such as "
                f"'{got}' are rejected, so convert the value with str() first."
            )
        try:
            raise exc
        finally:
            del exc  # the traceback holds this frame: no reference cycle
    if name not in STYLES:
        raise ValueError(f"未知样式: {name!r}。可用: {', '.join(sorted(set(STYLES)))}")
    entry = STYLES[name]
    if type(entry) is tuple or type(entry) is list:
        n = len(entry)
        if n > 2:
            raise ValueError("too many values to unpack (expected 2)")
        if n < 2:
            raise ValueError(f"need more than {n} value{'' if n == 1 else 's'} to unpack")
        on, _ = entry
    else:
        got = []
        for item in entry:
            if len(got) == 2:
                raise ValueError("too many values to unpack (expected 2)")
            got.append(item)
        if len(got) < 2:
            n = len(got)
            raise ValueError(f"need more than {n} value{'' if n == 1 else 's'} to unpack")
        on, _ = got
    return f"{ESC}{on}m"


def style_off(name: str) -> str:
    """获取样式关闭转义序列。"""
    if type(name) is not str:
        got = type(name).__name__[:200]
        exc = TypeError(f"Argument 'name' has incorrect type (expected str, got {got})")
        if isinstance(name, str):
            exc.add_note(
                f"tintara accepts only an exact str here: instances of subclasses such as "
                f"'{got}' are rejected, so convert the value with str() first."
            )
        try:
            raise exc
        finally:
            del exc  # the traceback holds this frame: no reference cycle
    if name not in STYLES:
        raise ValueError(f"未知样式: {name!r}。可用: {', '.join(sorted(set(STYLES)))}")
    entry = STYLES[name]
    if type(entry) is tuple or type(entry) is list:
        n = len(entry)
        if n > 2:
            raise ValueError("too many values to unpack (expected 2)")
        if n < 2:
            raise ValueError(f"need more than {n} value{'' if n == 1 else 's'} to unpack")
        _, off = entry
    else:
        got = []
        for item in entry:
            if len(got) == 2:
                raise ValueError("too many values to unpack (expected 2)")
            got.append(item)
        if len(got) < 2:
            n = len(got)
            raise ValueError(f"need more than {n} value{'' if n == 1 else 's'} to unpack")
        _, off = got
    return f"{ESC}{off}m"


__test__ = {}
