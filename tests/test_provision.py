"""tools/py's provisioning of the Debian roots, with a stand-in for debootstrap.

The stand-in makes a minimal tree (sh, env, sleep and a dpkg-query that
finds every package) after a pause, so that runs overlap; the runs skip the venv steps
(TINTARA_NO_INSTALL=1) and run a shell command in the root.  Each scenario
runs in a private mount namespace of its own, so that a fault leaves no
mount on the machine (where a later clean-up of the temporary directory could
walk into it).  Needs root and `unshare -m`.
"""

import os
import re
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from checks import tool_env

REPO = Path(__file__).resolve().parents[1]
PY314 = REPO / "tools" / "py314"
PY315 = REPO / "tools" / "py315"
TOOLS = ("bash", "sh", "env", "sleep", "flock", "chroot", "mount", "umount", "ldd")

pytestmark = [
    pytest.mark.skipif(sys.platform != "linux" or os.geteuid() != 0, reason="provisioning needs root on Linux"),
    pytest.mark.skipif(not all(map(shutil.which, TOOLS)), reason=f"needs {', '.join(TOOLS)}"),
]


def unshare_works():
    return shutil.which("unshare") is not None and subprocess.run(
        ["unshare", "-m", "true"], capture_output=True).returncode == 0


def libraries(program):
    out = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    return re.findall(r"(/\S+) \(0x", out)


@pytest.fixture
def fake(tmp_path):
    """A stand-in debootstrap on PATH; returns the environment for tools/py314 and its log."""
    if not unshare_works():
        pytest.skip("needs unshare -m, so that a fault cannot leave mounts on the machine")
    template = tmp_path / "template"
    for program in ("/bin/sh", "/usr/bin/env", shutil.which("sleep")):
        for path in (program, *libraries(program)):
            dest = template / path.lstrip("/")
            dest.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(os.path.realpath(path), dest)
    stub = template / "usr/bin/dpkg-query"
    stub.parent.mkdir(parents=True, exist_ok=True)
    stub.write_text('#!/bin/sh\nfor a; do case $a in -*) ;; *) echo "$a install ok installed" ;; esac; done\n')
    stub.chmod(0o755)

    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    log = tmp_path / "debootstrap.log"
    debootstrap = bin_dir / "debootstrap"
    debootstrap.write_text(textwrap.dedent(f"""\
        #!/bin/sh
        # debootstrap [OPTION...] SUITE TARGET [MIRROR [SCRIPT]]
        for a; do case $a in -*) ;; *) set -- "$@" "$a" ;; esac; shift; done
        echo "$1 $2" >> {log}
        sleep 2
        cp -a {template}/. "$2"
    """))
    debootstrap.chmod(0o755)

    env = tool_env()
    env.update(PATH=f"{bin_dir}{os.pathsep}{env.get('PATH', '')}", TINTARA_ROOT=str(tmp_path / "cache" / "forky"),
               TINTARA_PROVISION="1", TINTARA_NO_INSTALL="1")
    return env, log


def scenario(tmp_path, env, script, timeout=120):
    """Run a shell script (PY314, PY315, ROOT set) in a private mount namespace;
    returns the mount points below tmp_path left at its end."""
    mounts = tmp_path / "mounts.txt"
    body = (f'PY314={PY314}; PY315={PY315}; ROOT={env.get("TINTARA_ROOT", "")}\n{script}\n'
            f'cat /proc/self/mountinfo > {mounts}\n')
    cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c", body]
    subprocess.run(cmd, env=env, cwd=tmp_path, timeout=timeout, check=True)
    return [line.split()[4] for line in mounts.read_text().splitlines() if line.split()[4].startswith(str(tmp_path))]


def debootstraps(log):
    """The (suite, target) of each debootstrap run."""
    return [tuple(line.split()) for line in log.read_text().splitlines()]


def leftovers(root):
    return sorted(p.name for p in root.parent.glob(root.name + ".new.*"))


@pytest.mark.parametrize("no_unshare", ["0", "1"], ids=["namespace", "fallback"])
def test_overlapping_first_runs_both_succeed(tmp_path, fake, no_unshare):
    env, log = fake
    env["TINTARA_NO_UNSHARE"] = no_unshare
    root = Path(env["TINTARA_ROOT"])
    left = scenario(tmp_path, env, textwrap.dedent("""\
        for run in a b; do
            ("$PY314" sh -c 'echo "ran $0 in $PWD"' $run > out.$run 2>err.$run; echo $? > rc.$run) &
            sleep 0.5
        done
        wait
    """))
    for run in "ab":
        err = (tmp_path / f"err.{run}").read_text()
        assert (tmp_path / f"rc.{run}").read_text().strip() == "0", err
        assert (tmp_path / f"out.{run}").read_text() == f"ran {run} in /src\n"
    # One debootstrap, into a temporary directory renamed into place.
    ((suite, target),) = debootstraps(log)
    assert suite == "forky" and target.startswith(f"{root}.new.") and not os.path.exists(target)
    assert (root / ".tintara-bootstrapped").is_file() and (root / "usr/bin/env").is_file()
    assert leftovers(root) == [] and left == []


def test_unfinished_trees_are_unmounted_not_deleted_through(tmp_path, fake):
    env, log = fake
    root = Path(env["TINTARA_ROOT"])
    keep = tmp_path / "keep"
    keep.mkdir()
    (keep / "file").write_text("still here")
    # An interrupted first run of an older tools/py314, and one of this one,
    # each with a mount left inside.
    for tree in (root, Path(f"{root}.new.abcdef")):
        (tree / "proc").mkdir(parents=True)
    left = scenario(tmp_path, env, textwrap.dedent(f"""\
        mount --bind {keep} "$ROOT/proc"
        mount --bind {keep} "$ROOT.new.abcdef/proc"
        "$PY314" sh -c : 2> err.txt; echo $? > rc.txt
    """))
    assert (tmp_path / "rc.txt").read_text().strip() == "0", (tmp_path / "err.txt").read_text()
    assert (keep / "file").read_text() == "still here"
    assert (root / ".tintara-bootstrapped").is_file()
    assert leftovers(root) == [] and left == []
    assert len(debootstraps(log)) == 1


def test_interrupted_fallback_run_leaves_no_mount(tmp_path, fake):
    env, _ = fake
    env["TINTARA_NO_UNSHARE"] = "1"
    root = Path(env["TINTARA_ROOT"])
    left = scenario(tmp_path, env, textwrap.dedent("""\
        "$PY314" sh -c : || exit 1
        "$PY314" sh -c 'echo $$ > /started; exec sleep 60' 2> err.txt &
        pid=$!
        i=0
        while [ ! -e "$ROOT/started" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
        kill -TERM $pid
        wait $pid
        echo $? > rc.txt
    """))
    pid = int((root / "started").read_text())
    assert (tmp_path / "rc.txt").read_text().strip() == "143", (tmp_path / "err.txt").read_text()
    assert left == []
    # The command was stopped with the run.
    with pytest.raises(ProcessLookupError):
        os.kill(pid, 0)


def test_each_version_has_a_root_of_its_own(tmp_path, fake):
    env, log = fake
    cache = tmp_path / "cache"
    del env["TINTARA_ROOT"]
    env["TINTARA_CACHE"] = str(cache)
    left = scenario(tmp_path, env, textwrap.dedent("""\
        for py in "$PY314" "$PY315"; do
            ("$py" sh -c 'echo "$0" > /ran' "$py" 2>>err.txt; echo $? >> rc.txt) &
        done
        wait
    """))
    assert (tmp_path / "rc.txt").read_text().split() == ["0", "0"], (tmp_path / "err.txt").read_text()
    # 3.14 from Debian testing, 3.15 from unstable, each root made once.
    assert sorted(suite for suite, _ in debootstraps(log)) == ["forky", "sid"]
    for suite, py in [("forky", PY314), ("sid", PY315)]:
        root = cache / suite
        assert (root / ".tintara-bootstrapped").is_file() and leftovers(root) == []
        assert (root / "ran").read_text() == f"{py}\n"
    assert left == []
