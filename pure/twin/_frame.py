"""What the extension's frame does around and for a function body, shared by
the twin's modules: the checks made while binding arguments (an exact
``str``, ``int`` coercion of ``r``, ``g``, ``b``) and unpacking with the
frame's messages.

Only the slow paths live here.  Each function keeps its fast test inline
(``type(x) is str``, three exact ints, a tuple or list of the right length),
so the twin stays a fair interpreter baseline for the benchmarks.
"""


def not_str(param, value):
    """The TypeError for value, bound to param, when it is not an exact str."""
    got = type(value).__name__[:200]
    exc = TypeError(f"Argument '{param}' has incorrect type (expected str, got {got})")
    if isinstance(value, str):
        exc.add_note(
            f"tintara accepts only an exact str here: instances of subclasses such as "
            f"'{got}' are rejected, so convert the value with str() first."
        )
    return exc


def ints(r, g, b):
    """r, g, b as ints, coerced as the extension binds an int parameter."""
    coerced = []
    for param, value in (("r", r), ("g", g), ("b", b)):
        if type(value) is not int:
            kind = type(value)
            if not (
                hasattr(kind, "__index__")
                or hasattr(kind, "__int__")
                or hasattr(kind, "__float__")
                or isinstance(value, complex)
            ):
                raise TypeError(
                    f"Argument '{param}' has incorrect type "
                    f"(expected int, got {kind.__name__[:200]})"
                )
            value = int(value)
        coerced.append(value)
    return coerced


def unpack(items, n):
    """The n items of items, with the messages of the frame's unpacking: a
    tuple or list by its length, anything else by iterating no further than
    one item past n."""
    if type(items) is tuple or type(items) is list:
        count = len(items)
        if count > n:
            raise ValueError(f"too many values to unpack (expected {n})")
        got = items
    else:
        got = []
        for item in items:
            if len(got) == n:
                raise ValueError(f"too many values to unpack (expected {n})")
            got.append(item)
        count = len(got)
    if count < n:
        raise ValueError(f"need more than {count} value{'' if count == 1 else 's'} to unpack")
    return got
