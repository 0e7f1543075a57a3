"""What the paint tests share: colours, a style with every field, and the
ways of styling text."""

EVERYTHING = dict(fg=(1, 2, 3), bg="blue", bold=True, dim=False, italic=True, underline=True, blink=True,
                  blink_fast=False, reverse=True, hidden=True, strikethrough=True, overline=True)


def rgb(hex_colour):
    return tuple(bytes.fromhex(hex_colour[1:]))


class Sub(str):
    pass


def ways(paint, style):
    """Every way of styling text at TRUECOLOR: render, a pen, paint."""
    return [lambda t: style.render(t, level=3), style.bind(level=3), lambda t: paint.paint(t, style, level=3)]
