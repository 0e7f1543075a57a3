"""The distributions: what a user installs has to be complete and portable.

``tools/wheel`` runs on a snapshot of the working tree: it makes the sdist
and, from it, a wheel for the running interpreter (cp314 under 3.14, cp315
under 3.15), repaired by auditwheel to the oldest manylinux tag its symbols
allow.  That wheel is installed into a fresh venv of the same interpreter, outside the source
tree and the modules' tests run against that installation, so a file missing
from the wheel (a stub, py.typed, __main__.py, an extension module) fails
here even though the source tree has it.  A wheel built straight from the
tree must hold the same files as the one built from the sdist.

The extension modules are those of the tintara this suite runs against (what
meson.build builds), the Python files whatever ``tintara/`` holds.

Slow (two full builds): deselect with ``-m "not slow"``.
"""

import importlib.machinery
import importlib.util
import io
import os
import platform
import shutil
import site
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import pytest

pytestmark = pytest.mark.slow

REPO = Path(__file__).resolve().parents[1]
SUFFIX = importlib.machinery.EXTENSION_SUFFIXES[0]


def installed_extensions():
    """The extension modules of the tintara the suite runs against, which is an
    installed one (conftest.py keeps the source package off the path): those
    meson.build makes."""
    spec = importlib.util.find_spec("tintara")
    dirs = spec.submodule_search_locations or () if spec else ()
    return sorted(p.name.removesuffix(SUFFIX) for d in dirs for p in Path(d).iterdir() if p.name.endswith(SUFFIX))


EXTENSIONS = installed_extensions()
PYTHON_FILES = sorted(p.name for p in (REPO / "tintara").iterdir() if p.suffix in (".py", ".pyi", ".typed"))
PACKAGE_FILES = {
    *(f"tintara/{name}" for name in PYTHON_FILES),
    *(f"tintara/{name}{SUFFIX}" for name in EXTENSIONS),
}
MODULES = sorted({*EXTENSIONS, *(Path(n).stem for n in PYTHON_FILES if n.endswith(".py"))} - {"__init__", "__main__"})
# The test files that run against the installed wheel, where they exist.
KEY_TESTS = ["test_introspection.py", *(f"test_{name}.py" for name in MODULES)]
# The oldest tag whose glibc has every symbol version the modules need.
MANYLINUX = (2, 17)
TAG = f"manylinux_{MANYLINUX[0]}_{MANYLINUX[1]}_{platform.machine()}"
# The interpreter the wheel is for: this one.
ABI = f"cp{sys.version_info.major}{sys.version_info.minor}"
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


@pytest.fixture(scope="module")
def snapshot(tmp_path_factory):
    """A copy of the working tree."""
    for module in ("build", "auditwheel", "mesonpy"):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"the '{module}' package is not installed (dependency group 'dist')")
    if not EXTENSIONS:
        pytest.skip("tintara is not installed: the tests of the distributions compare them with an installation")
    if not shutil.which("git"):
        pytest.skip("git is needed to make an sdist (meson dist archives a git tree)")
    src = tmp_path_factory.mktemp("snapshot") / "tintara"
    shutil.copytree(REPO, src, ignore=JUNK)
    return src


@pytest.fixture(scope="module")
def dist(snapshot):
    """tools/wheel's sdist and repaired wheel, made with this interpreter."""
    out = snapshot.parent / "dist"
    env = {**os.environ, "PATH": os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])}
    run("bash", snapshot / "tools" / "wheel", "--inner", "--outdir", out, cwd=snapshot, env=env)
    (sdist,) = out.glob("*.tar.gz")
    (whl,) = out.glob("*.whl")
    return sdist, whl


@pytest.fixture(scope="module")
def wheel(dist):
    return dist[1]


def wheel_files(whl):
    """The files (auditwheel's zip has directory entries too)."""
    with zipfile.ZipFile(whl) as z:
        return sorted(n for n in z.namelist() if not n.endswith("/"))


def wheel_tags(whl):
    """The platform tags of the file name, and the Tag lines of the WHEEL file."""
    plats = whl.name.removesuffix(".whl").split("-")[-1].split(".")
    with zipfile.ZipFile(whl) as z:
        (meta,) = [n for n in z.namelist() if n.endswith(".dist-info/WHEEL")]
        lines = z.read(meta).decode().splitlines()
    return plats, [line.split(":", 1)[1].strip() for line in lines if line.startswith("Tag:")]


def glibc_versions(data):
    """The GLIBC_x.y symbol versions an ELF shared object needs."""
    from elftools.elf.elffile import ELFFile
    from elftools.elf.gnuversions import GNUVerNeedSection

    found = set()
    for section in ELFFile(io.BytesIO(data)).iter_sections():
        if isinstance(section, GNUVerNeedSection):
            for _, aux in section.iter_versions():
                for version in aux:
                    number = version.name.removeprefix("GLIBC_")
                    if number != version.name and number[:1].isdigit():
                        found.add(tuple(map(int, number.split("."))))
    return found


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """A fresh venv (outside the source tree) with only the wheel installed.

    The test tools (pytest, mypy) come from this suite's environment, added at
    the end of the new venv's path after the wheel is in: the only tintara
    found first there is the wheel's.
    """
    env_dir = tmp_path_factory.mktemp("venv") / "env"
    run(sys.executable, "-m", "venv", "--without-pip", env_dir, cwd=env_dir.parent)
    python = env_dir / "bin" / "python"
    run(sys.executable, "-m", "pip", "--python", python, "install", "-q", "--no-deps", "--no-index",
        "--disable-pip-version-check", wheel, cwd=env_dir.parent)
    purelib = run(python, "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])", cwd=env_dir.parent)
    # Only directories that exist: 3.15 warns about every other line of a .pth.
    tools = [d for d in site.getsitepackages() if os.path.isdir(d)]
    Path(purelib.strip(), "_suite_tools.pth").write_text("\n".join(tools) + "\n")
    return python


def clean_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VIRTUAL_ENV", "TINTARA"))}
    env["PYTHONSAFEPATH"] = "1"
    return env


def test_wheel_contents(wheel):
    files = set(wheel_files(wheel))
    assert PACKAGE_FILES <= files
    assert {f for f in files if f.endswith(".so")} == {f"tintara/{name}{SUFFIX}" for name in EXTENSIONS}
    # The package and its metadata, nothing else (no tests, no sources, no
    # shared libraries grafted in by auditwheel).
    assert all(f.startswith("tintara/") or f.split("/")[0].endswith(".dist-info") for f in files), files


def test_wheel_is_manylinux(wheel):
    plats, tags = wheel_tags(wheel)
    manylinux = sorted((tuple(map(int, p.split("_")[1:3])), p) for p in plats if p.startswith("manylinux_"))
    assert manylinux and manylinux[0][1] == TAG, plats
    assert f"{ABI}-{ABI}-{TAG}" in tags
    assert not any(p.startswith("linux_") for p in plats) and not any(t.endswith(f"-linux_{platform.machine()}") for t in tags)


def test_extensions_need_no_newer_glibc(wheel):
    with zipfile.ZipFile(wheel) as z:
        needs = {n: glibc_versions(z.read(n)) for n in z.namelist() if n.endswith(".so")}
    assert len(needs) == len(EXTENSIONS)
    for name, versions in needs.items():
        assert versions, f"{name} needs no versioned glibc symbol: not read right"
        assert max(versions) <= MANYLINUX, (name, sorted(versions))


def test_suite_against_installed_wheel(venv, tmp_path):
    imports = ", ".join(f"tintara.{name}" for name in MODULES)
    where = run(venv, "-c", f"import {imports}; import tintara; print(tintara.__file__)", cwd=tmp_path, env=clean_env())
    site_dir = Path(where.strip()).parent
    assert site_dir.is_relative_to(venv.parent.parent) and not site_dir.is_relative_to(REPO)
    assert {p.name for p in site_dir.iterdir()} >= {Path(f).name for f in PACKAGE_FILES}

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


def test_sdist_builds_the_same_wheel(snapshot, dist):
    sdist, from_sdist = dist
    out = snapshot.parent / "direct"  # built without isolation, as tools/wheel does
    run(sys.executable, "-m", "build", "--no-isolation", "--skip-dependency-check", "--wheel",
        "--outdir", out, snapshot, cwd=snapshot.parent)
    (direct,) = out.glob("*.whl")
    with tarfile.open(sdist) as tar:
        names = {Path(*Path(n).parts[1:]).as_posix() for n in tar.getnames()}
    sources = {p.relative_to(snapshot).as_posix() for p in snapshot.rglob("*") if p.suffix in (".cpp", ".hpp")}
    assert sources and {"meson.build", "pyproject.toml", "README.md", "tintara/py.typed", *sources} <= names
    assert wheel_files(from_sdist) == wheel_files(direct)
