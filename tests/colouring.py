"""What the colors tests share: the tables as the module documents them,
its messages, and ints that are not what they say."""

import enum

ESC = "\x1b["

NAMED = {
    "black": 30, "red": 31, "green": 32, "yellow": 33,
    "blue": 34, "magenta": 35, "cyan": 36, "white": 37,
    "bright_black": 90, "bright_red": 91, "bright_green": 92, "bright_yellow": 93,
    "bright_blue": 94, "bright_magenta": 95, "bright_cyan": 96, "bright_white": 97,
}
ALIASES = {
    "grey": "bright_black", "gray": "bright_black", "purple": "magenta",
    "bright_grey": "bright_black", "bright_gray": "bright_black",
    "bright_purple": "bright_magenta",
}
AVAILABLE = ", ".join(sorted(NAMED))
assert AVAILABLE == (
    "black, blue, bright_black, bright_blue, bright_cyan, bright_green, "
    "bright_magenta, bright_red, bright_white, bright_yellow, cyan, green, "
    "magenta, red, white, yellow"
)


def unknown(arg, available=AVAILABLE):
    return f"未知颜色名称: {arg!r}。可用: {available}"


def hex_error(arg):
    return f"无法解析十六进制颜色: {arg!r}，期望格式 #RGB 或 #RRGGBB"


def index_error(text):
    return "256 色索引须在 0-255 范围内，收到: " + text


def component_error(letter, value):
    return f"{letter} 分量须在 0-255 范围内，收到: {value!r}"


class Level(enum.IntEnum):
    FIVE = 5
    BIG = 300


class Odd(int):
    """An int whose own text and comparisons are not its value's."""

    def __str__(self):
        return "odd"

    __repr__ = __str__

    def __format__(self, spec):
        return "odd"
