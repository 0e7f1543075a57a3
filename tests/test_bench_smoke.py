"""The benchmark command runs to the end (a few iterations, no thresholds)."""

import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def test_bench_quick_run():
    done = subprocess.run(
        [sys.executable, os.path.join(ROOT, "bench", "run.py"), "--quick"],
        capture_output=True, text=True, timeout=300, cwd=ROOT,
    )
    assert done.returncode == 0, done.stderr
    out = done.stdout
    assert out.startswith("machine: ")
    for row in ('fg_code("red")', "rgb_to_ansi256 grey", 'style_on("bold")',
                "detect_color_level(tty)", "truecolour fg_code(t)", "import tintara.styles",
                "pen(5-char text)", "pen(two 5-char lines)", 'paint(t"{a:bold} and {b:red}")',
                "sanitize(200 clean chars)", "nearest_256(random colour)", "strip(200-char line", "import tintara.paint",
                "RSS growth", 'fg_code("#rrggbb") cold', "style_off(name) fresh str",
                "tintara after 2,000 hex", "t[k] = v; fg_code(k)"):
        assert row in out
    assert "PASS" in out or "FAIL" in out
