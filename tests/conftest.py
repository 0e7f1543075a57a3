"""Shared fixtures.

Tests that take the ``colors``, ``detect``, ``styles`` or ``paint`` fixture run against
every implementation: the extension modules and, where it exists, the
pure-Python twin in ``pure/twin`` (each is the other's oracle).  Tests of
behaviour only the extension has (argument-binding messages, traceback
entries, function objects) import ``tintara.*`` directly.

Tests that change a module's tables or constants do it through
``monkeypatch`` so the change is undone afterwards: the extension modules
are process-wide singletons.
"""

import importlib
import importlib.util
import os
import pty
import sys

import pytest

# `python -m pytest` run in the checkout puts the current directory first on
# sys.path, and there `tintara` is the source package without its extension
# modules: take it off, here and for the interpreters the tests start.
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:] = [p for p in sys.path if os.path.abspath(p or os.curdir) != REPO]
os.environ["PYTHONSAFEPATH"] = "1"

IMPLEMENTATIONS = ["ext", "twin"]

# What detect_color_level reads from the environment.
DETECTION_VARIABLES = (
    "NO_COLOR", "FORCE_COLOR", "TERM_PROGRAM", "VSCODE_PID", "VSCODE_IPC_HOOK",
    "PYCHARM_HOSTED", "WT_SESSION", "ConEmuANSI", "ANSICON", "COLORTERM", "TERM",
)


def load(kind, name):
    if kind == "ext":
        if importlib.util.find_spec(f"tintara.{name}") is None:
            pytest.skip(f"tintara.{name} is not built")
        return importlib.import_module(f"tintara.{name}")
    if importlib.util.find_spec("twin") is None:
        pytest.skip("no pure-Python twin")
    return importlib.import_module(f"twin.{name}")


@pytest.fixture(params=IMPLEMENTATIONS)
def impl(request):
    return request.param


@pytest.fixture
def colors(impl):
    return load(impl, "colors")


@pytest.fixture
def detect(impl):
    return load(impl, "detect")


@pytest.fixture
def styles(impl):
    return load(impl, "styles")


@pytest.fixture
def paint(impl):
    """tintara.paint or twin.paint; each reads the tables of its own family
    (``paint._colors``, ``paint._styles``, ``paint._detect``)."""
    return load(impl, "paint")


@pytest.fixture
def env(monkeypatch):
    """A clean environment on Linux; call it to pick a platform and set variables."""
    for name in DETECTION_VARIABLES:
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setattr(sys, "platform", "linux")

    def setup(platform="linux", **variables):
        monkeypatch.setattr(sys, "platform", platform)
        for name, value in variables.items():
            monkeypatch.setenv(name, value)

    return setup


@pytest.fixture
def tty(env):
    """The writing side of a pseudo-terminal, with a clean environment; .master reads it."""
    master, slave = pty.openpty()
    with os.fdopen(slave, "w") as stream:
        stream.master = master
        yield stream
    os.close(master)
