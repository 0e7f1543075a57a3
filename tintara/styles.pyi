# Type stubs for the tintara.styles extension module.

ESC: str
RESET_ALL: str
STYLES: dict[str, tuple[int, int]]

def style_on(name: str) -> str: ...
def style_off(name: str) -> str: ...

# doctest collects extra tests from this mapping; the module sets it empty.
__test__: dict[str, object]
