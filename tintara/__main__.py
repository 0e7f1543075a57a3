"""Preview tintara's colours and styles.

    python -m tintara [--level {none,basic,extended,truecolor}]

Without ``--level`` the colour level is the one detected for standard
output, and the first line says which variable or test decided it.  The
output holds only what that level allows: plain text at ``none``; the 16
named colours and the styles at ``basic``; the 256-colour palette and a
gradient brought down to it at ``extended``; the gradient in 24-bit colour at
``truecolor``.  One style made with ``tintara.paint`` is shown side by side as
each level up to the chosen one writes it, then a template string holding a
value from outside (shown, not obeyed) and a hyperlink.
"""

import argparse
import colorsys
import os
import sys

from tintara import __version__
from tintara.colors import COLOR_ALIASES, NAMED_COLORS, bg_code, fg_code, rgb_to_ansi256
from tintara.detect import ColorLevel, detect_color_level, enable_windows_vt
from tintara.paint import Style, link, paint
from tintara.styles import RESET_ALL, STYLES, style_off, style_on

LEVELS = {level.name.lower(): level for level in ColorLevel}
SAMPLE = "Sample"
GRADIENT_WIDTH = 72
# A style whose colours each level writes differently (and, at basic, as
# normal colours: terminals may show the bright ones bold).
PAINTED = "underline #ffb020 on #202060"
# Backgrounds dark enough for a white label; the others get a black one.
DARK = {"black", "red", "blue", "magenta", "bright_black"}
# A user name as it might arrive from outside: it tries to clear the screen,
# go back to the start of the line and reverse the text after it.
VISITOR = "mallory\x1b[2J\r\u202etxt.exe"
SAID = "hi\x07"
DOCS = "https://example.com/tintara"


def detection_reason(stream):
    """Say what decides detect_color_level(stream), asking the same questions in the same order."""
    env = os.environ
    if env.get("NO_COLOR", ""):
        return "NO_COLOR is set"
    force = env.get("FORCE_COLOR", "")
    if force:
        return f"FORCE_COLOR={force}"
    windows = sys.platform == "win32"
    if windows:
        if env.get("TERM_PROGRAM") == "vscode":
            return "TERM_PROGRAM=vscode"
        for name in ("VSCODE_PID", "VSCODE_IPC_HOOK", "PYCHARM_HOSTED"):
            if env.get(name):
                return f"{name} is set"
    if not hasattr(stream, "isatty") or not stream.isatty():
        return "standard output is not a terminal"
    if windows:
        if env.get("WT_SESSION"):
            return "WT_SESSION is set (Windows Terminal)"
        if env.get("ConEmuANSI") == "ON":
            return "ConEmuANSI=ON"
        return "Windows console"
    colorterm = env.get("COLORTERM", "")
    if colorterm.lower() in ("truecolor", "24bit"):
        return f"COLORTERM={colorterm}"
    term = env.get("TERM", "")
    return f"TERM={term}" if term else "TERM is not set"


def named_colours():
    yield "Named colours (foreground, background):"
    for name in NAMED_COLORS:
        label = fg_code("bright_white" if name in DARK else "black")
        yield f"  {fg_code(name)}{name:<16}{RESET_ALL}  {label}{bg_code(name)} {name:<16}{RESET_ALL}"
    yield "Aliases:"
    for alias, target in COLOR_ALIASES.items():
        yield f"  {fg_code(alias)}{alias:<16}{RESET_ALL}  = {target}"


def styles():
    yield "Styles (on and off sequences):"
    for name in STYLES:
        on, off = style_on(name), style_off(name)
        yield f"  {name:<16}{on}{SAMPLE}{off}{RESET_ALL}  {on!r} {off!r}"


def palette():
    """The 256-colour palette by index: a swatch, then the index in its colour."""
    yield "256-colour palette:"
    rows = [range(0, 8), range(8, 16)]
    rows += [range(start, start + 12) for start in range(16, 256, 12)]
    for row in rows:
        yield "  " + "".join(f"{bg_code(i)}  {RESET_ALL}{fg_code(i)}{i:>3} {RESET_ALL}" for i in row)


def gradient(level):
    """A hue sweep: 24-bit colour at TRUECOLOR, the nearest palette entries below it."""
    if level >= ColorLevel.TRUECOLOR:
        yield "Truecolour gradient:"
    else:
        yield "Truecolour gradient, brought down to the 256-colour palette:"
    cells = []
    for i in range(GRADIENT_WIDTH):
        rgb = tuple(round(c * 255) for c in colorsys.hsv_to_rgb(i / GRADIENT_WIDTH, 1.0, 1.0))
        colour = rgb if level >= ColorLevel.TRUECOLOR else rgb_to_ansi256(*rgb)
        cells.append(bg_code(colour) + " ")
    yield "  " + "".join(cells) + RESET_ALL


def one_style(level):
    """One style as each level up to this one writes it, side by side."""
    style = Style.parse(PAINTED)
    yield f"One style at each level (tintara.paint, {PAINTED!r}):"
    yield "  " + "  ".join(f"{n.name.lower()}: {style.bind(level=n)(SAMPLE)}" for n in ColorLevel if n <= level)


def untrusted(level):
    """A template string: its text is the program's, the values in it are data."""
    yield 'Untrusted values in a template string (t"{visitor:bold #ffb020} said {said!r:italic}"):'
    visitor, said = VISITOR, SAID
    yield "  " + paint(t"{visitor:bold #ffb020} said {said!r:italic}", level=level)


def hyperlink(level):
    yield "A hyperlink (OSC 8; a terminal without them shows the text alone):"
    yield "  " + link(t"the {'tintara':bold} documentation", DOCS, level=level) + f"  ({DOCS})"


def plain_listing():
    yield "No colour or style sequences are written at this level; pass --level to preview one."
    yield "Named colours: " + ", ".join(NAMED_COLORS)
    yield "Aliases: " + ", ".join(f"{alias} = {target}" for alias, target in COLOR_ALIASES.items())
    yield "Styles: " + ", ".join(STYLES)
    yield from untrusted(ColorLevel.NONE)
    yield from hyperlink(ColorLevel.NONE)


def render(level):
    if level == ColorLevel.NONE:
        yield from plain_listing()
        return
    yield from named_colours()
    yield from styles()
    yield from one_style(level)
    yield from untrusted(level)
    yield from hyperlink(level)
    if level >= ColorLevel.EXTENDED:
        yield from palette()
        yield from gradient(level)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python -m tintara",
        description="Show tintara's colours and styles as a terminal of the given colour level shows them.",
    )
    parser.add_argument(
        "--level",
        choices=list(LEVELS),
        help="colour level to preview (default: the one detected for standard output)",
    )
    parser.add_argument("--version", action="version", version=f"tintara {__version__}")
    args = parser.parse_args(argv)

    detected = detect_color_level(sys.stdout)
    reason = detection_reason(sys.stdout)
    if args.level is None:
        level = detected
        header = f"Colour level: {level.name} ({reason})"
    else:
        level = LEVELS[args.level]
        header = f"Colour level: {level.name} (chosen with --level; detected {detected.name}: {reason})"
    if level > ColorLevel.NONE:
        # Switches a Windows console to interpret the sequences; False elsewhere.
        enable_windows_vt()

    print(header)
    for line in render(level):
        print(line)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # The reader went away (``| head``): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
