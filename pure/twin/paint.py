"""带样式文本：按终端能力输出颜色与样式。
"""

from __future__ import annotations

# The future import binds a module attribute the extension does not have.
del annotations

import sys

import twin.colors as _colors
import twin.styles as _styles
import twin.detect as _detect

ATTRIBUTES = (
    "bold",
    "dim",
    "italic",
    "underline",
    "blink",
    "blink_fast",
    "reverse",
    "hidden",
    "strikethrough",
    "overline",
)


# The extension's namespace holds only the names of this module body; its
# helpers are static functions.  Here they are locals of _module(), which
# hands out the public objects and is deleted.
def _module():
    import copyreg
    import operator
    import re
    from string.templatelib import Template

    from twin import _frame
    from twin._escapes import CSI, INTRODUCER, sequence_end, styled
    from twin._palette import index_16, index_256, palette_rgb

    # ------------------------------------------------------------------
    # Colours: checked and resolved once, when a style is built.
    #
    # A resolved colour is (kind, payload): (NAME, code), (INDEX, n) or
    # (RGB, (r, g, b)).

    NAME, INDEX, RGB = 0, 1, 2
    HEX6 = re.compile("#[0-9a-fA-F]{6}")
    HEX3 = re.compile("#[0-9a-fA-F]{3}")

    def hex_rgb(text):
        """(r, g, b) of #rrggbb / #rgb, or None."""
        if HEX6.fullmatch(text):
            return (int(text[1:3], 16), int(text[3:5], 16), int(text[5:7], 16))
        if HEX3.fullmatch(text):
            return (int(text[1] * 2, 16), int(text[2] * 2, 16), int(text[3] * 2, 16))
        return None

    def named(value):
        """(canonical name, (NAME, code)) from the current tables."""
        name = str.replace(str.replace(str.lower(value), "-", "_"), " ", "_")
        name = _colors.COLOR_ALIASES.get(name, name)
        if not isinstance(name, str) or name not in _colors.NAMED_COLORS:
            raise ValueError(f"未知颜色名称: {value!r}")
        code = _colors.NAMED_COLORS[name]
        if not isinstance(code, int) or isinstance(code, bool):
            raise TypeError(f"颜色码须为 int，收到: {code!r}")
        return str.__str__(name), (NAME, int.__int__(code))

    RGB_COUNT = "RGB 元组须有 3 个分量，收到: "
    RGB_TYPE = "RGB 分量须为 int，收到: "
    RGB_RANGE = "RGB 分量须在 0-255 范围内，收到: "

    def check_component(item, value):
        """One component of the tuple colour value: the type, then the range
        by the component's own comparisons."""
        if not isinstance(item, int) or isinstance(item, bool):
            raise TypeError(f"{RGB_TYPE}{value!r}")
        if not 0 <= item <= 255:
            raise ValueError(f"{RGB_RANGE}{value!r}")

    def check_rgb(value):
        """The (r, g, b) of a tuple colour, checked component by component.

        Comparisons an int subclass defines may lie, so the range is checked
        again on int's own value.  A tuple subclass is iterated once for the
        checks and once more for the copy, which must again give three ints.
        """
        if len(value) != 3:
            raise ValueError(f"{RGB_COUNT}{value!r}")
        if type(value) is tuple:
            for item in value:
                check_component(item, value)
                if not 0 <= int.__int__(item) <= 255:
                    raise ValueError(f"{RGB_RANGE}{value!r}")
            return tuple(int.__int__(item) for item in value)
        for item in value:
            check_component(item, value)
        rgb = []
        for item in value:
            if not isinstance(item, int):
                raise TypeError(f"{RGB_TYPE}{value!r}")
            n = int.__int__(item)
            if not 0 <= n <= 255:
                raise ValueError(f"{RGB_RANGE}{value!r}")
            if len(rgb) == 3:
                raise ValueError(f"{RGB_COUNT}{value!r}")
            rgb.append(n)
        if len(rgb) != 3:
            raise ValueError(f"{RGB_COUNT}{value!r}")
        return tuple(rgb)

    INDEX_RANGE = "256 色索引须在 0-255 范围内，收到: "

    def check_color(value):
        """(canonical field, resolved colour) of a colour as a caller gives it."""
        if isinstance(value, str):
            if str.startswith(value, "#"):
                rgb = hex_rgb(value)
                if rgb is None:
                    raise ValueError(f"无法解析十六进制颜色: {value!r}，期望格式 #RGB 或 #RRGGBB")
                return "#%02x%02x%02x" % rgb, (RGB, rgb)
            return named(value)
        if isinstance(value, bool) or not isinstance(value, (int, tuple)):
            raise TypeError(f"不支持的颜色类型: {type(value).__name__}")
        if isinstance(value, int):
            # The value's own comparisons first, then int's own value.
            if not 0 <= value <= 255:
                raise ValueError(f"{INDEX_RANGE}{value!r}")
            n = int.__int__(value)
            if not 0 <= n <= 255:
                raise ValueError(f"{INDEX_RANGE}{value!r}")
            return n, (INDEX, n)
        rgb = check_rgb(value)
        return rgb, (RGB, rgb)

    def color_text(field):
        """A canonical colour field as the style string writes it."""
        if isinstance(field, int):
            return f"color({field})"
        if isinstance(field, tuple):
            return "rgb(%d,%d,%d)" % field
        return field

    def basic_code(n, background):
        """The 16-colour code of palette index n (0-15)."""
        if n < 8:
            return (40 if background else 30) + n
        return (100 if background else 90) + n - 8

    def segment(resolved, level, background):
        """The SGR parameters of a resolved colour at level 1-3."""
        kind, payload = resolved
        if kind == NAME:
            code = payload
            if background and (code < 40 or 90 <= code <= 97):
                code += 10
            return str(code)
        layer = "48" if background else "38"
        if kind == INDEX:
            if level >= 2:
                return f"{layer};5;{payload}"
            if payload < 16:
                return str(basic_code(payload, background))
            return str(basic_code(index_16(*palette_rgb(payload)), background))
        if level == 3:
            return "%s;2;%d;%d;%d" % (layer, *payload)
        if level == 2:
            return f"{layer};5;{index_256(*payload)}"
        return str(basic_code(index_16(*payload), background))

    # ------------------------------------------------------------------
    # Levels.

    def check_level(level):
        """The int 0-3 of an explicit level: by its own comparisons, then by
        int's own value."""
        if isinstance(level, bool) or not isinstance(level, int):
            raise TypeError(f"颜色级别须为 ColorLevel 或 0-3 的 int，收到: {level!r}")
        if not 0 <= level <= 3 or not 0 <= int.__int__(level) <= 3:
            raise ValueError(f"颜色级别须在 0-3 范围内，收到: {level!r}")
        return int.__int__(level)

    def resolve_level(level, stream):
        """An explicit level wins; otherwise the stream's, detected now."""
        if level is None:
            level = _detect.detect_color_level(stream)
        return check_level(level)

    def text_of(text):
        """str(text) as an exact str."""
        s = str(text)
        return s if type(s) is str else str.__str__(s)

    # ------------------------------------------------------------------
    # Untrusted text.

    # What a terminal acts on, written the way repr writes it: the C0
    # controls but tab and line feed, DEL, the C1 controls, and the
    # bidirectional controls.
    ACTIVE = (
        *range(0x00, 0x09), *range(0x0B, 0x20), *range(0x7F, 0xA0), 0x061C, 0x200E, 0x200F,
        *range(0x202A, 0x202F), *range(0x2066, 0x206A),
    )
    ESCAPED = {c: repr(chr(c))[1:-1] for c in ACTIVE}

    def safe(text):
        """A str (or subclass) with every character a terminal acts on
        escaped, as an exact str."""
        s = str.translate(text, ESCAPED)
        return s if type(s) is str else str.__str__(s)

    # ------------------------------------------------------------------
    # Template strings.

    def text_at(text, level):
        """The text a caller passes, at level 0-3: a template rendered, any
        other object made a str."""
        if type(text) is Template:
            return template_text(text, level)
        return text_of(text)

    def template_text(template, level):
        """A template at level 0-3: its strings are the program's and are
        written as they are; each interpolation is converted, made safe and
        painted with the style its format spec names."""
        strings = template.strings
        out = [strings[0]]
        for k, item in enumerate(template.interpolations):
            out.append(interpolation_text(item, level))
            out.append(strings[k + 1])
        return "".join(out)

    def interpolation_text(item, level):
        value = item.value
        conversion = item.conversion
        if conversion is None and type(value) is Template:
            s = template_text(value, level)
        else:
            # As an f-string converts it with an empty format spec.
            if conversion == "r":
                value = repr(value)
            elif conversion == "s":
                value = str(value)
            elif conversion == "a":
                value = ascii(value)
            s = safe(format(value, ""))
        spec = item.format_spec
        if spec:
            style = Style.parse(spec)
            if level:
                s = styled(s, made(style, level))
        return s

    # ------------------------------------------------------------------
    # Style strings.

    ATTRIBUTE_SET = frozenset(ATTRIBUTES)
    SYNONYMS = {"strike": "strikethrough", "conceal": "hidden"}
    COLOR_N = re.compile("color\\(([0-9]+)\\)")
    RGB_N = re.compile("rgb\\(([0-9]+),([0-9]+),([0-9]+)\\)")

    def small(digits):
        """The number ASCII digits spell, or 256 when it is above 255: a
        token of any length is read without int()'s limit on digits."""
        digits = digits.lstrip("0")
        return int(digits or "0") if len(digits) <= 3 else 256

    def color_token(token):
        """The colour of a style-string token, or ValueError naming it."""
        m = COLOR_N.fullmatch(token)
        if m:
            value = small(m.group(1))
            if value <= 255:
                return value
        else:
            m = RGB_N.fullmatch(token)
            if m:
                value = tuple(map(small, m.groups()))
                if max(value) <= 255:
                    return value
            elif str.startswith(token, "#"):
                if hex_rgb(token) is not None:
                    return token
            else:
                try:
                    return named(token)[0]
                except ValueError:
                    pass
        raise ValueError(f"无法解析的样式标记: {token!r}")

    def parse(text):
        """The constructor arguments of a style string."""
        fields = {}
        tokens = str.split(text)
        i = 0
        while i < len(tokens):
            token = tokens[i]
            i += 1
            if token == "on":
                if i == len(tokens):
                    raise ValueError(f"'on' 之后缺少背景色: {token!r}")
                token = tokens[i]
                i += 1
                value = color_token(token)
                if "bg" in fields:
                    raise ValueError(f"背景色重复: {token!r}")
                fields["bg"] = value
                continue
            value = True
            if token == "not":
                if i == len(tokens):
                    raise ValueError(f"无法解析的样式标记: {token!r}")
                token = tokens[i]
                i += 1
                value = False
                if token not in ATTRIBUTE_SET and token not in SYNONYMS:
                    raise ValueError(f"无法解析的样式标记: {token!r}")
            if token in ATTRIBUTE_SET or token in SYNONYMS:
                name = SYNONYMS.get(token, token)
                if fields.get(name, value) is not value:
                    raise ValueError(f"样式属性冲突: {token!r}")
                fields[name] = value
                continue
            value = color_token(token)
            if "fg" in fields:
                raise ValueError(f"前景色重复: {token!r}")
            fields["fg"] = value
        return fields

    # ------------------------------------------------------------------
    # Style and Pen.

    ATTRIBUTE_INDEX = {name: i for i, name in enumerate(ATTRIBUTES)}

    PAIR = "样式码须为两个 int，收到: "

    def entry_codes(entry):
        """The (on, off) ints of a STYLES entry: a tuple or list of two ints,
        checked, then unpacked (a subclass is iterated again, so its items
        are checked again)."""
        ok = False
        if isinstance(entry, (tuple, list)) and len(entry) == 2:
            ok = all(isinstance(c, int) and not isinstance(c, bool) for c in entry)
        if not ok:
            raise TypeError(f"{PAIR}{entry!r}")
        on, off = _frame.unpack(entry, 2)
        if not isinstance(on, int) or not isinstance(off, int):
            raise TypeError(f"{PAIR}{entry!r}")
        return int.__int__(on), int.__int__(off)

    def attribute_codes(attrs):
        """For the set attributes, (rank, index, name, value, on, off) in
        STYLES order, with the codes the current STYLES gives them."""
        table = _styles.STYLES
        rank = {}
        for key in table:
            if key in ATTRIBUTE_INDEX and key not in rank:
                rank[key] = len(rank)
        out = []
        for name, value in attrs:
            if name not in table:
                raise ValueError(f"未知样式: {name!r}")
            on, off = entry_codes(table[name])
            out.append((rank.get(name, len(ATTRIBUTES)), ATTRIBUTE_INDEX[name], name, value, on, off))
        out.sort()
        return tuple(out)

    def make_style(fields, colors, codes):
        self = object.__new__(Style)
        setter = object.__setattr__
        setter(self, "_fields", fields)
        setter(self, "_colors", colors)
        setter(self, "_codes", codes)
        setter(self, "_made", [None, None, None, None])
        return self

    def made(style, level):
        """(prefix, suffix, again) at level 1-3, made once.

        again is what nesting puts back (see rewritten): "0" gives all the
        prefix's codes; an off code of an attribute the style turns on gives
        the on codes of the attributes it turns off, "39" the foreground and
        "49" the background, each in prefix order.
        """
        made = style._made[level]
        if made is not None:
            return made
        pre = []
        seen = set()
        for value in (False, True):
            for _, _, _, v, on, off in style._codes:
                code = on if value else off
                if v is value and code not in seen:
                    seen.add(code)
                    pre.append(str(code))
        fg, bg = style._colors
        colors = []
        if fg is not None:
            colors.append(("39", segment(fg, level, False)))
        if bg is not None:
            colors.append(("49", segment(bg, level, True)))
        pre += [codes for _, codes in colors]
        post = []
        again = {}
        for _, _, _, v, on, off in style._codes:
            if v:
                if str(off) not in post:
                    post.append(str(off))
                again.setdefault(str(off), []).append(str(on))
        for off, codes in colors:
            if off not in post:
                post.append(off)
            again.setdefault(off, []).append(codes)
        again = {off: ";".join(dict.fromkeys(codes)) for off, codes in again.items()}
        if pre:
            again["0"] = ";".join(pre)
        made = (
            CSI + ";".join(pre) + "m" if pre else "",
            CSI + ";".join(post) + "m" if post else "",
            again,
        )
        style._made[level] = made
        return made

    # What a pen at NONE writes around text: nothing.
    UNSTYLED = ("", "", {})

    class Style:
        __slots__ = ("_fields", "_colors", "_codes", "_made")

        def __new__(cls, fg=None, bg=None, *, bold=None, dim=None, italic=None, underline=None,
                    blink=None, blink_fast=None, reverse=None, hidden=None, strikethrough=None,
                    overline=None):
            resolved = []
            for value in (fg, bg):
                resolved.append(None if value is None else check_color(value))
            values = (bold, dim, italic, underline, blink, blink_fast, reverse, hidden,
                      strikethrough, overline)
            for name, value in zip(ATTRIBUTES, values):
                if value is not None and value is not True and value is not False:
                    raise TypeError(f"样式属性 {name} 须为 True、False 或 None，收到: {value!r}")
            codes = attribute_codes([(n, v) for n, v in zip(ATTRIBUTES, values) if v is not None])
            fields = (
                None if fg is None else resolved[0][0],
                None if bg is None else resolved[1][0],
                *values,
            )
            return make_style(
                fields,
                (None if fg is None else resolved[0][1], None if bg is None else resolved[1][1]),
                codes,
            )

        def __init_subclass__(cls, **kwargs):
            raise TypeError(f"type '{__name__}.Style' is not an acceptable base type")

        def __setattr__(self, name, value):
            raise AttributeError("Style 对象不可修改")

        def __delattr__(self, name):
            raise AttributeError("Style 对象不可修改")

        fg = property(lambda self: self._fields[0])
        bg = property(lambda self: self._fields[1])
        bold = property(lambda self: self._fields[2])
        dim = property(lambda self: self._fields[3])
        italic = property(lambda self: self._fields[4])
        underline = property(lambda self: self._fields[5])
        blink = property(lambda self: self._fields[6])
        blink_fast = property(lambda self: self._fields[7])
        reverse = property(lambda self: self._fields[8])
        hidden = property(lambda self: self._fields[9])
        strikethrough = property(lambda self: self._fields[10])
        overline = property(lambda self: self._fields[11])

        @classmethod
        def parse(cls, text):
            if not isinstance(text, str):
                raise TypeError(f"样式须为 str，收到: {type(text).__name__}")
            return Style(**parse(text))

        def __eq__(self, other):
            if type(other) is not Style:
                return NotImplemented
            return self._fields == other._fields

        def __ne__(self, other):
            if type(other) is not Style:
                return NotImplemented
            return self._fields != other._fields

        def __hash__(self):
            return hash(self._fields)

        def __repr__(self):
            parts = [f"{name}={value!r}"
                     for name, value in zip(("fg", "bg", *ATTRIBUTES), self._fields)
                     if value is not None]
            return f"Style({', '.join(parts)})"

        def __str__(self):
            parts = [name if value else "not " + name
                     for _, _, name, value, _, _ in self._codes]
            fg, bg = self._fields[0], self._fields[1]
            if fg is not None:
                parts.append(color_text(fg))
            if bg is not None:
                parts.append("on " + color_text(bg))
            return " ".join(parts)

        def __add__(self, other):
            if type(self) is not Style or type(other) is not Style:
                return NotImplemented
            a, b = self._fields, other._fields
            fields = tuple(y if y is not None else x for x, y in zip(a, b))
            colors = tuple(other._colors[i] if b[i] is not None else self._colors[i]
                           for i in range(2))
            codes = {entry[2]: entry for entry in self._codes}
            codes.update((entry[2], entry) for entry in other._codes)
            return make_style(fields, colors, tuple(sorted(codes.values())))

        def codes(self, level):
            n = check_level(level)
            if n == 0:
                return ("", "")
            return made(self, n)[:2]

        def render(self, text, *, level=None, stream=None):
            n = resolve_level(level, stream)
            s = text_at(text, n)
            if n == 0:
                return s
            return styled(s, made(self, n))

        def bind(self, stream=None, *, level=None):
            n = resolve_level(level, stream)
            pen = object.__new__(Pen)
            setter = object.__setattr__
            setter(pen, "style", self)
            setter(pen, "level", _detect.ColorLevel(n))
            pen_made = UNSTYLED if n == 0 else made(self, n)
            setter(pen, "prefix", pen_made[0])
            setter(pen, "suffix", pen_made[1])
            setter(pen, "_made", pen_made)
            return pen

        # A style is a value: copies are the style itself, and a pickle
        # holds the fields it is built from.
        def __copy__(self):
            return self

        def __deepcopy__(self, memo):
            return self

        def __reduce__(self):
            fields = self._fields
            attributes = {name: value for name, value in zip(ATTRIBUTES, fields[2:]) if value is not None}
            return (copyreg.__newobj_ex__, (Style, fields[:2], attributes))

    Style.__doc__ = (
        "文本样式：前景色、背景色与十个样式属性。\n\n"
        "    颜色可以是颜色名称 (如 'red')、十六进制字符串 (如 '#ff8800')、\n"
        "    256 色索引 (0-255) 或 RGB 元组 (r, g, b)。\n"
        "    样式属性取 True (开启)、False (关闭) 或 None (不改变)。\n"
        "    构造时即校验全部参数，并按当时的颜色表与样式表确定转义码。\n    "
    )
    Style.parse.__func__.__doc__ = (
        "解析样式字符串，如 'bold red on white'。\n\n"
        "    标记以空白分隔，顺序任意: 样式属性名 (可加前缀 not)、前景色、\n"
        "    on 加背景色。颜色写作名称、#RRGGBB、#RGB、color(N) 或 rgb(R,G,B)。\n    "
    )
    Style.codes.__doc__ = (
        "返回给定色彩级别下的 (前缀, 后缀)。\n\n"
        "    后缀只关闭本样式开启的属性与颜色，从不使用 \\x1b[0m。\n    "
    )
    Style.render.__doc__ = (
        "按色彩级别为文本加上样式。\n\n"
        "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n"
        "    逐行加上样式：每个换行之前写入后缀、之后写入前缀，空行不加。\n"
        "    文本中的重置或关闭码之后补写本样式相应的码，嵌套的样式因此得以保持。\n"
        "    text 可以是模板字符串 (t\"...\")：插值经转换与转义后写入，格式说明即其样式。\n    "
    )
    Style.bind.__doc__ = "返回一支画笔：色彩级别只确定一次，之后 pen(text) 即得带样式文本。"

    class Pen:
        __slots__ = ("style", "level", "prefix", "suffix", "_made")

        def __new__(cls, *args, **kwargs):
            raise TypeError(f"cannot create '{__name__}.Pen' instances")

        def __init_subclass__(cls, **kwargs):
            raise TypeError(f"type '{__name__}.Pen' is not an acceptable base type")

        def __setattr__(self, name, value):
            raise AttributeError("Pen 对象不可修改")

        def __delattr__(self, name):
            raise AttributeError("Pen 对象不可修改")

        def __call__(self, text):
            """为文本加上样式。"""
            return styled(text_at(text, self.level), self._made)

        def __repr__(self):
            return f"<Pen level={self.level.name} style={self.style!r}>"

        # A pen is a value too: it pickles as its style bound at its level.
        def __copy__(self):
            return self

        def __deepcopy__(self, memo):
            return self

        def __reduce__(self):
            return (operator.methodcaller("bind", level=int(self.level)), (self.style,))

    Pen.__doc__ = "绑定了样式与色彩级别的画笔。"

    # ------------------------------------------------------------------
    # Functions.

    def to_style(style):
        if isinstance(style, Style):
            return style
        if isinstance(style, str):
            return Style.parse(style)
        raise TypeError(f"样式须为 Style、str 或 None，收到: {type(style).__name__}")

    def paint(text, style=None, /, *, level=None, stream=None) -> str:
        if style is None:
            if type(text) is Template:
                return template_text(text, resolve_level(level, stream))
            if level is not None:
                check_level(level)
            return text_of(text)
        return to_style(style).render(text, level=level, stream=stream)

    paint.__doc__ = (
        "按终端能力为文本加上样式。\n\n"
        "    style 可以是 Style、样式字符串或 None (此时不加样式，原样返回 str(text)，不做检测)。\n"
        "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n"
        "    text 可以是模板字符串 (t\"...\")：插值经转换后用 sanitize 转义，\n"
        "    格式说明不为空时即为其样式；模板字符串即使 style 为 None 也确定色彩级别。\n    "
    )

    def echo(text, style=None, /, *, file=None, end="\n", flush=False) -> None:
        if style is not None:
            style = to_style(style)
        if end is None:
            end = "\n"
        elif not isinstance(end, str):
            raise TypeError(f"end 须为 str 或 None，收到: {type(end).__name__}")
        if file is None:
            file = sys.stdout
            if file is None:
                return None
        if style is not None:
            s = style.render(text, stream=file)
        elif type(text) is Template:
            s = template_text(text, resolve_level(None, file))
        else:
            s = text_of(text)
        file.write(s + end)
        if flush:
            file.flush()
        return None

    echo.__doc__ = (
        "将带样式文本写入 file (默认 sys.stdout)。\n\n"
        "    色彩级别按 file 检测；文本与 end 一次写入。text 可以是模板字符串，同 paint。\n    "
    )

    LINK_RULE = "须为非空的可打印 ASCII 字符串 (U+0021-U+007E)"

    def printable_ascii(value):
        return value != "" and all("\x21" <= c <= "\x7e" for c in value)

    def link_url(url):
        """url as an exact str, checked."""
        if not isinstance(url, str):
            raise TypeError(f"url 须为 str，收到: {type(url).__name__}")
        if not printable_ascii(url):
            raise ValueError(f"url {LINK_RULE}，收到: {url!r}")
        return str.__str__(url)

    def link_id(id):
        """id as an exact str, checked: no ";" (it ends the parameters) and
        no ":" (it separates them)."""
        if not isinstance(id, str):
            raise TypeError(f"id 须为 str 或 None，收到: {type(id).__name__}")
        if not printable_ascii(id) or ";" in id or ":" in id:
            raise ValueError(f"id {LINK_RULE}，且不含 ';' 与 ':'，收到: {id!r}")
        return str.__str__(id)

    def link(text, url, /, *, id=None, level=None, stream=None) -> str:
        url = link_url(url)
        if id is not None:
            id = link_id(id)
        n = resolve_level(level, stream)
        s = text_at(text, n)
        if n == 0 or not s:
            return s
        opening = f"\x1b]8;;{url}\x1b\\" if id is None else f"\x1b]8;id={id};{url}\x1b\\"
        return opening + s + "\x1b]8;;\x1b\\"

    link.__doc__ = (
        "返回 OSC 8 超链接：终端显示 text，点击打开 url。\n\n"
        "    url 与 id 须为非空的可打印 ASCII 字符串 (U+0021-U+007E)，id 不得含 ';' 与 ':'；\n"
        "    id 相同的链接被终端视为同一个。text 可以是模板字符串，同 paint。\n"
        "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别；\n"
        "    NONE 级别只返回文本，空文本返回空字符串。\n    "
    )

    def strip(text: str) -> str:
        if not isinstance(text, str):
            raise TypeError(f"strip() 的参数须为 str，收到: {type(text).__name__}")
        m = INTRODUCER.search(text)
        if m is None:
            return text if type(text) is str else str.__str__(text)
        out = []
        start = 0
        while m is not None:
            i = m.start()
            out.append(text[start:i])
            start = sequence_end(text, i)
            m = INTRODUCER.search(text, start)
        out.append(text[start:])
        return "".join(out)

    strip.__doc__ = (
        "去除文本中的转义序列。\n\n"
        "    包括 CSI (如颜色与样式)、OSC (如 OSC 8 超链接)、DCS、SOS、PM、APC\n"
        "    及其他 ESC 序列；结尾处未结束的序列一并去除。\n"
        "    8 位形式 (U+009B 即 ESC [，U+009C 即 ST 等) 与 7 位形式同样去除，\n"
        "    其余 C1 控制符单独去除。\n    "
    )

    def sanitize(text: str) -> str:
        if not isinstance(text, str):
            raise TypeError(f"sanitize() 的参数须为 str，收到: {type(text).__name__}")
        return safe(text)

    sanitize.__doc__ = (
        "将终端会执行的字符换成 repr 中的转义写法，其余字符不变。\n\n"
        "    即除 \\t 与 \\n 以外的 C0 控制符、DEL、C1 控制符，以及双向文本控制符\n"
        "    U+061C、U+200E、U+200F、U+202A-U+202E、U+2066-U+2069。\n"
        "    打印来自外部的文本 (用户名、文件名、服务器消息) 之前使用。\n    "
    )

    def downgrade(color, level, *, background=False) -> str:
        resolved = check_color(color)[1]
        n = check_level(level)
        background = True if background else False
        if n == 0:
            return ""
        return CSI + segment(resolved, n, background) + "m"

    downgrade.__doc__ = (
        "返回一种颜色在给定色彩级别下的完整转义序列。\n\n"
        "    TRUECOLOR 按原样输出；EXTENDED 将十六进制与 RGB 换为最接近的 256 色；\n"
        "    BASIC 换为 16 色；NONE 返回空字符串。\n    "
    )

    def rgb_arguments(r, g, b):
        for name, value in (("r", r), ("g", g), ("b", b)):
            if not isinstance(value, int) or isinstance(value, bool):
                raise TypeError(f"{name} 须为 int，收到: {value!r}")
            if not 0 <= value <= 255 or not 0 <= int.__int__(value) <= 255:
                raise ValueError(f"{name} 须在 0-255 范围内，收到: {value!r}")
        return int.__int__(r), int.__int__(g), int.__int__(b)

    def nearest_256(r: int, g: int, b: int) -> int:
        return index_256(*rgb_arguments(r, g, b))

    nearest_256.__doc__ = (
        "返回 256 色调色板 (16-255) 中最接近的颜色索引。\n\n"
        "    在 Oklab 空间中按欧氏距离比较，距离相同时取较小的索引。\n    "
    )

    def nearest_16(r: int, g: int, b: int) -> int:
        return index_16(*rgb_arguments(r, g, b))

    nearest_16.__doc__ = (
        "返回 16 色中最接近的颜色索引 (0-15)。\n\n"
        "    先看色相：彩度低于 0.04 的颜色在黑、灰、白、亮白之间选择，\n"
        "    其他颜色取色相最近的基本色及其高亮色中按 Oklab 距离较近者；\n"
        "    但彩度低于 0.10 且明度与所选颜色相差超过 0.25 时，改在黑、灰、白、亮白之间选择。\n    "
    )

    public = (Style, paint, echo, link, strip, sanitize, downgrade, nearest_256, nearest_16)
    for cls in (Style, Pen):
        cls.__qualname__ = cls.__name__
        for value in vars(cls).values():
            fn = getattr(value, "__func__", value)
            if hasattr(fn, "__code__"):
                fn.__qualname__ = f"{cls.__name__}.{fn.__name__}"
    for fn in public[1:]:
        fn.__qualname__ = fn.__name__
    return public


Style, paint, echo, link, strip, sanitize, downgrade, nearest_256, nearest_16 = _module()
del _module


__test__ = {}
