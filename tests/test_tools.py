"""tools/test's account of its stages, and tools/py's choice of version.

tools/test runs here against stand-ins for the stage tools, which print what
pytest prints, so that what CI shows of a failing run is checked without
running the suite inside the suite.
"""

import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from checks import tool_env

REPO = Path(__file__).resolve().parents[1]

pytestmark = pytest.mark.skipif(sys.platform != "linux" or not shutil.which("bash"), reason="needs bash on Linux")

PASSING = "1 passed\n....\n5 passed, 2 skipped, 1 xfailed in 1.50s\n"
FAILING = textwrap.dedent("""\
    ..F.E.
    =========================== short test summary info ============================
    FAILED tests/test_x.py::test_a[ext] - AssertionError: boom
    ERROR tests/test_y.py::test_b - RuntimeError: setup
    1 failed, 4 passed, 1 skipped, 1 error in 2.00s
""")
SKIPPED = "== debug interpreter: SKIPPED (no debug build of CPython found)\n"
MESON = "1/4 tintara:escapes OK 0.01s\n\nOk:                4\nFail:              0\n"


def fake_tools(tmp_path, outputs):
    """A copy of tools/test beside stand-ins that print outputs[(version, tool)]
    (PASSING where missing) and fail when it has a failure in it."""
    tools = tmp_path / "tools"
    tools.mkdir()
    shutil.copy(REPO / "tools" / "test", tools / "test")
    for tool, version_of in [("py", '"$1"'), ("check-types", '"$TINTARA_VERSION"'),
                             ("asan", '"$TINTARA_VERSION"'), ("refleak", '"$TINTARA_VERSION"')]:
        cases = "".join(
            f"    {version}) printf %s {_quote(out)}; exit {int('failed' in out)} ;;\n"
            for (version, name), out in outputs.items() if name == tool
        )
        (tools / tool).write_text(f"#!/bin/bash\ncase {version_of} in\n{cases}esac\nprintf %s {_quote(PASSING)}\n")
        (tools / tool).chmod(0o755)
    # The C++ tests of core/, once: meson's account, which has no pytest counts.
    core = outputs.get(("", "core-tests"), MESON)
    (tools / "core-tests").write_text(f"#!/bin/bash\nprintf %s {_quote(core)}\nexit {int('Fail: 1' in core)}\n")
    (tools / "core-tests").chmod(0o755)
    return tools / "test"


def _quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def run_test_tool(script, **env):
    proc = subprocess.run(["bash", script], capture_output=True, text=True, timeout=60,
                          env=tool_env(**env), stdin=subprocess.DEVNULL)
    return proc.returncode, proc.stdout.splitlines()


def test_every_stage_on_both_versions_and_the_counts(tmp_path):
    rc, lines = run_test_tool(fake_tools(tmp_path, {("3.15", "refleak"): SKIPPED}))
    assert rc == 0
    summary = lines[lines.index("== summary") + 1:]
    assert summary[0].startswith("core tests (meson test)") and " passed " in summary[0]
    summary = summary[1:]
    assert [line.split()[0] for line in summary[:8]] == ["3.14:"] * 4 + ["3.15:"] * 4
    assert "SKIPPED" in summary[7] and all(" passed " in line for line in summary[:7])
    # Seven pytest runs of 5 passed and 2 skipped: the closing line CI reads.
    assert lines[-1] == "total: 35 passed, 0 failed, 14 skipped"


def test_a_failing_stage_names_its_tests_last(tmp_path):
    rc, lines = run_test_tool(fake_tools(tmp_path, {("3.15", "asan"): FAILING}))
    assert rc == 1
    named = ["FAILED tests/test_x.py::test_a[ext] - AssertionError: boom",
             "ERROR tests/test_y.py::test_b - RuntimeError: setup"]
    # At the end of the stage itself...
    (end,) = [i for i, line in enumerate(lines) if line.startswith("== 3.15: AddressSanitizer + UBSan build: ")]
    assert "FAILED (exit 1)" in lines[end] and lines[end + 1:end + 3] == named
    # ... and in the summary, under its stage, before the counts CI reads.
    assert lines[-6].startswith("3.15: AddressSanitizer + UBSan build") and "FAILED" in lines[-6]
    assert [line.strip() for line in lines[-5:-3]] == named
    assert lines[-3].startswith("3.15: debug interpreter and leak hunt")
    assert lines[-2:] == ["tools/test: 1 stage(s) FAILED", "total: 39 passed, 2 failed, 15 skipped"]


def test_a_failing_core_stage_fails_the_run(tmp_path):
    rc, lines = run_test_tool(fake_tools(tmp_path, {("", "core-tests"): "Ok: 3\nFail: 1\n"}))
    assert rc == 1 and lines[-2] == "tools/test: 1 stage(s) FAILED"
    assert lines[lines.index("== summary") + 1].startswith("core tests (meson test)")


def test_one_version(tmp_path):
    rc, lines = run_test_tool(fake_tools(tmp_path, {}), TINTARA_VERSIONS="3.15")
    assert rc == 0 and [line for line in lines if line.startswith("== 3.14")] == []
    assert lines[-1] == "total: 20 passed, 0 failed, 8 skipped"


def test_a_root_of_one_version_is_not_shared(tmp_path):
    rc, _ = run_test_tool(fake_tools(tmp_path, {}), TINTARA_ROOT=str(tmp_path))
    assert rc == 2


def py(*args, **env):
    return subprocess.run(["bash", REPO / "tools" / "py", *args], capture_output=True, text=True,
                          timeout=60, env=tool_env(**env))


@pytest.mark.parametrize("args, python, message", [
    (["3.13", "true"], None, "no such version 3.13"),
    (["3.14"], None, "usage: tools/py VERSION CMD"),
    (["3.14", "--which"], "3.13", "is Python 3.13, not one of 3.14 3.15"),
    (["3.15", "--which"], "", "does not run"),
])
def test_py_refuses_what_it_cannot_use(tmp_path, args, python, message):
    env = {}
    if python is not None:
        # A stand-in interpreter that answers the version query (or fails).
        fake = tmp_path / "python"
        fake.write_text(f"#!/bin/sh\n{'echo ' + python if python else 'exit 1'}\n")
        fake.chmod(0o755)
        env["TINTARA_PYTHON"] = str(fake)
    proc = py(*args, **env)
    assert proc.returncode != 0 and message in proc.stderr


def test_py_passes_over_an_interpreter_of_the_other_version():
    other = {(3, 14): "3.15", (3, 15): "3.14"}.get(sys.version_info[:2])
    if other is None:
        pytest.skip("runs under a supported version")
    proc = py(other, "--which", TINTARA_PYTHON=sys.executable)
    assert proc.returncode == 0 and proc.stdout.strip() not in ("", sys.executable)
