"""A typed tour of tintara, checked with ``mypy --strict``.

Run it to see a few coloured words; type-check it to see what the stubs
promise.  ``assert_type`` pins each result to the type the stubs declare,
and the ``TYPE_CHECKING`` block holds calls the stubs must reject (strict
mode reports an unused ``type: ignore``, so a stub that became too lax
fails the check).
"""

import copy
import io
import pickle
import sys
from string.templatelib import Template
from typing import TYPE_CHECKING, assert_type

from tintara.colors import (
    COLOR_ALIASES,
    NAMED_COLORS,
    RESET_BG,
    RESET_FG,
    bg_code,
    fg_code,
    parse_hex,
    rgb_to_ansi256,
)
from tintara.detect import ColorLevel, detect_color_level, enable_windows_vt, supports_color
from tintara.paint import Style, downgrade, echo, link, nearest_16, nearest_256, sanitize, strip
from tintara.paint import paint as styled
from tintara.styles import RESET_ALL, STYLES, style_off, style_on

RGB = tuple[int, int, int]


def colour_for(level: ColorLevel, rgb: RGB) -> str:
    """The richest foreground sequence a terminal of ``level`` shows."""
    if level >= ColorLevel.TRUECOLOR:
        return fg_code(rgb)
    if level == ColorLevel.EXTENDED:
        return fg_code(rgb_to_ansi256(*rgb))
    if level == ColorLevel.BASIC:
        return fg_code("bright_red" if rgb[0] > 127 else "white")
    return ""


def paint(text: str, rgb: RGB, *styles: str, level: ColorLevel = ColorLevel.TRUECOLOR) -> str:
    if level is ColorLevel.NONE:
        return text
    on = "".join(style_on(name) for name in styles)
    off = "".join(style_off(name) for name in reversed(styles))
    return f"{on}{colour_for(level, rgb)}{text}{RESET_FG}{off}"


def main() -> int:
    enabled: bool = enable_windows_vt()  # False, and harmless, off Windows
    level = detect_color_level(sys.stdout)
    assert_type(level, ColorLevel)
    assert_type(supports_color(), bool)
    # Anything is a stream; an object without isatty() is no terminal.
    assert_type(detect_color_level(io.StringIO()), ColorLevel)
    assert_type(supports_color(object()), bool)

    orange = parse_hex("#ff8800")
    assert_type(orange, tuple[int, int, int])
    assert_type(rgb_to_ansi256(*orange), int)
    assert_type(NAMED_COLORS["red"], int)
    assert_type(COLOR_ALIASES.get("grey"), str | None)
    assert_type(STYLES["bold"], tuple[int, int])
    on, off = STYLES["underline"]

    banner = bg_code("black") + paint("tintara", orange, "bold", "underline", level=level) + RESET_BG
    print(banner if level else "tintara", f"(level {level.name}, VT enabled: {enabled})")
    for name in sorted(NAMED_COLORS):
        print(f"{fg_code(name)}{name}{RESET_ALL}" if level else name, end=" ")
    print(f"\nunderline is SGR {on}/{off}; index 208 is {fg_code(208)!r}")

    # tintara.paint decides the level itself and brings colours down to it.
    warning = Style.parse("bold #ff8800") + Style(underline=True)
    assert_type(warning, Style)
    assert_type(warning.fg, str | int | tuple[int, int, int] | None)
    assert_type(warning.codes(ColorLevel.EXTENDED), tuple[str, str])
    pen = warning.bind(sys.stdout)
    assert_type(pen.level, ColorLevel)
    assert_type(strip(pen("careful")), str)
    assert_type(downgrade(orange, 1, background=True), str)
    assert_type(nearest_256(*orange) + nearest_16(*orange), int)
    echo(styled(42, "green on black", level=level), flush=True)

    # Template strings: the literal text is the program's; each interpolated
    # value is data, made safe, and styled by its format spec.
    user = "ann\x1b[2J"  # as it came from outside
    mood = "bold"
    greeting: Template = t"{user:{mood}} logged in, last seen {'yesterday'!r:dim}"
    assert_type(styled(greeting, level=level), str)
    assert_type(warning.render(t"{user:underline}\n{user!a}", level=level), str)
    assert_type(pen(greeting), str)
    assert_type(sanitize(user), str)
    readme = link(t"the {'tintara':bold} README", "https://example.com/tintara", id="readme", level=level)
    assert_type(readme, str)
    echo(t"see {readme!s} (as data, escaped)", "italic")

    # Styles and pens are values: copies are themselves, and they pickle.
    theme = copy.deepcopy({"warning": warning, "pen": pen})
    assert theme["warning"] is warning and copy.copy(pen) is pen
    restored: Style = pickle.loads(pickle.dumps(warning))
    assert restored == warning
    return 0


if TYPE_CHECKING:
    from tintara.colors import _color_code

    # Each of these is a type error the stubs have to report.
    parse_hex(b"#fff")  # type: ignore[arg-type]
    fg_code([255, 0, 0])  # type: ignore[arg-type]
    fg_code((1, 2))  # type: ignore[arg-type]
    style_on(None)  # type: ignore[arg-type]
    rgb_to_ansi256("1", 2, 3)  # type: ignore[arg-type]
    NAMED_COLORS["orange"] = "208"  # type: ignore[assignment]
    _color_code("red", True)  # type: ignore[call-arg]  # foreground is keyword-only
    Style(bold=1)  # type: ignore[arg-type]
    Style("red", "blue", True)  # type: ignore[call-arg]  # the attributes are keyword-only
    styled("x", style="bold")  # type: ignore[call-arg]  # style is positional-only
    strip(b"x")  # type: ignore[arg-type]
    sanitize(None)  # type: ignore[arg-type]
    link("x", b"https://example.com")  # type: ignore[arg-type]
    link("x", "https://example.com", id=1)  # type: ignore[arg-type]
    link("x", "https://example.com", "id")  # type: ignore[call-arg]  # id is keyword-only
    link("x", url="https://example.com")  # type: ignore[call-arg]  # url is positional-only
    echo("x", file=sys.stdin.fileno())  # type: ignore[arg-type]


if __name__ == "__main__":
    sys.exit(main())
