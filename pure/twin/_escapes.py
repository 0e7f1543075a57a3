"""Escape sequences in text: where each ends, and nesting by rewriting the
embedded SGRs.

Used by twin.paint's styled text and strip.
"""

import re

ESC = "\x1b"
CSI = "\x1b["

# A C1 control (U+0080-U+009F) is the 8-bit form of ESC followed by the
# character 0x40 below it: U+009B is ESC [ (CSI), U+009D ESC ] (OSC),
# U+0090, U+0098, U+009E and U+009F ESC P, X, ^ and _ (DCS, SOS, PM,
# APC), U+009C ESC \ (ST).  The scanner reads both forms alike.

STRINGS = "]PX^_"  # what introduces a control string


def sequence_end(s, i):
    """The end of the escape sequence that starts at s[i], an ESC or a C1
    control.

    A sequence left unterminated at the end of the text runs to the end.
    A CSI broken by a character it cannot hold ends before it, and so
    does any other sequence; a control string (OSC, DCS, SOS, PM, APC)
    ends at BEL (OSC only) or ST, or before any other ESC or C1 control.
    """
    n = len(s)
    if s[i] == ESC:
        j = i + 1
        if j == n:
            return n
        c = s[j]
        if c != "[" and c not in STRINGS:
            while j < n and "\x20" <= s[j] <= "\x2f":
                j += 1
            if j < n and "\x30" <= s[j] <= "\x7e":
                return j + 1
            return j
        j += 1
    else:
        c = chr(ord(s[i]) - 0x40)
        j = i + 1
        if c != "[" and c not in STRINGS:
            return j  # a control of its own, like ESC and a final byte
    if c == "[":
        while j < n and "\x30" <= s[j] <= "\x3f":
            j += 1
        while j < n and "\x20" <= s[j] <= "\x2f":
            j += 1
        if j < n and "\x40" <= s[j] <= "\x7e":
            return j + 1
        return j
    while j < n:
        ch = s[j]
        if (ch == "\x07" and c == "]") or ch == "\x9c":
            return j + 1
        if ch == ESC:
            return j + 2 if j + 1 < n and s[j + 1] == "\\" else j
        if "\x80" <= ch <= "\x9f":
            return j
        j += 1
    return n


INTRODUCER = re.compile("[\x1b\x80-\x9f]")
# Where a line break or an escape sequence may start.
LINE_OR_SEQUENCE = re.compile("[\n\x1b\x80-\x9f]")


def is_sgr(s, i, end):
    """Whether the sequence s[i:end] is an SGR that nesting rewrites: ESC
    [, parameter bytes that are digits, ":" and ";" only (no private
    marker, no intermediate byte), and "m"."""
    return (
        s[i] == ESC
        and end - i >= 3
        and s[i + 1] == "["
        and s[end - 1] == "m"
        and all(ch in "0123456789:;" for ch in s[i + 2 : end - 1])
    )


def rewritten(params, again):
    """The parameters of an embedded SGR with the outer style's codes
    spliced in after each code that undoes them, or None when there is
    nothing to add.

    again maps a code, as decimal text, to the codes it adds: "0" (a full
    reset) to all the prefix's codes, an off code to what it turned off.
    A field is a parameter; one holding ":" has sub-parameters and is
    never a code.  An empty field, or zeros, is a full reset, and is
    written "0" when codes follow it.  After 38, 48 and 58 the fields 5;n
    and 2;r;g;b are the colour's arguments.
    """
    fields = params.split(";")
    out = []
    added = False
    i = 0
    while i < len(fields):
        field = fields[i]
        i += 1
        out.append(field)
        if ":" in field:
            continue
        code = field.lstrip("0") or "0"
        if code == "38" or code == "48" or code == "58":
            if i < len(fields) and fields[i] and ":" not in fields[i]:
                kind = fields[i].lstrip("0")
                take = 2 if kind == "5" else 4 if kind == "2" else 0
                out += fields[i : i + take]
                i += take
        elif code in again:
            if code == "0":
                out[-1] = "0"
            out.append(again[code])
            added = True
    return ";".join(out) if added else None


def styled(s, made):
    """s painted with a style's (prefix, suffix, again), one line at a time.

    Each line gets the prefix and the suffix, so no style runs across a
    line break; an empty line gets neither.  Line breaks are "\\n" and
    "\\r\\n" outside escape sequences, and the suffix goes before the "\\r".
    Inside a line, each embedded SGR that undoes the style gets the
    style's codes spliced in (see rewritten); nothing else changes.
    """
    prefix, suffix, again = made
    if not prefix:
        return s
    out = []
    line = []  # the pieces of the current line
    start = 0  # what of s is not yet in line
    n = len(s)
    m = LINE_OR_SEQUENCE.search(s)
    while m is not None:
        i = m.start()
        if s[i] == "\n":
            cut = i - 1 if i > start and s[i - 1] == "\r" else i
            line.append(s[start:cut])
            text = "".join(line)
            out.append(prefix + text + suffix if text else "")
            out.append(s[cut : i + 1])
            line = []
            start = i + 1
            m = LINE_OR_SEQUENCE.search(s, i + 1)
            continue
        end = sequence_end(s, i)
        if is_sgr(s, i, end):
            params = rewritten(s[i + 2 : end - 1], again)
            if params is not None:
                line.append(s[start:i])
                line.append(CSI + params + "m")
                start = end
        m = LINE_OR_SEQUENCE.search(s, end) if end < n else None
    line.append(s[start:])
    text = "".join(line)
    out.append(prefix + text + suffix if text else "")
    return "".join(out)
