"""Assertion helpers shared by the test modules."""

import pytest


def raises(exc_type, message, fn, *args, **kwargs):
    """Calls fn, which must raise exactly exc_type with exactly message."""
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value
