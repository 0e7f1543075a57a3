"""Assertion helpers shared by the test modules."""

import pytest


def raises(exc_type, message, fn, *args, **kwargs):
    """Calls fn, which must raise exactly exc_type with exactly message."""
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


def interpreter_error(fn, *args, **kwargs):
    """The exception type and message of the running interpreter for
    fn(*args, **kwargs): the expected text of an error raised by the
    interpreter, not by tintara, whose wording differs between versions."""
    try:
        fn(*args, **kwargs)
    except Exception as exc:
        return type(exc), str(exc)
    raise AssertionError(f"{fn!r} raised nothing")
