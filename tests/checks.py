"""Assertion helpers shared by the test modules."""

import os

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


def tool_env(**extra):
    """The environment for running one of the tools/ scripts from a test:
    without the knobs of the run the test is in, nor its sanitizer runtime."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("TINTARA", "LD_PRELOAD", "ASAN_", "UBSAN_", "PYTHONMALLOC"))}
    return {**env, **extra}
