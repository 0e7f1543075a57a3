"""终端能力检测。

自动检测当前终端是否支持颜色输出以及支持的色彩级别。
"""

from __future__ import annotations

# The future import binds a module attribute the extension does not have.
del annotations

import os
import sys
from enum import IntEnum
from typing import Optional


class ColorLevel(IntEnum):
    """终端色彩支持级别。"""

    NONE = 0
    BASIC = 1
    EXTENDED = 2
    TRUECOLOR = 3


# Multi-line docstrings are assigned after each definition: the compiler
# strips the indentation of docstring literals, and these keep theirs.


def _has_windows_console() -> bool:
    if sys.platform != "win32":
        return False
    try:
        import ctypes
        from ctypes import wintypes

        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        _GetStdHandle = kernel32.GetStdHandle
        _GetStdHandle.argtypes = [wintypes.DWORD]
        _GetStdHandle.restype = wintypes.HANDLE
        _GetConsoleMode = kernel32.GetConsoleMode
        _GetConsoleMode.argtypes = [wintypes.HANDLE, ctypes.POINTER(wintypes.DWORD)]
        _GetConsoleMode.restype = wintypes.BOOL
        handle = _GetStdHandle(-11)
        if handle == 0 or handle == -1:
            return False
        mode = wintypes.DWORD()
        return True if _GetConsoleMode(handle, ctypes.byref(mode)) else False
    except Exception:
        return False


_has_windows_console.__doc__ = (
    "检测当前进程是否关联了真正的 Windows 控制台。\n\n"
    "    通过 ``GetConsoleMode`` 验证 stdout 句柄是控制台句柄（而非管道/文件）。\n"
    "    用于区分 IDE 终端窗口（有控制台）和 IDE 运行控制台（管道，无控制台）。\n    "
)


def detect_color_level(stream=None) -> ColorLevel:
    if os.environ.get("NO_COLOR", "") != "":
        return ColorLevel.NONE

    force = os.environ.get("FORCE_COLOR", "")
    if force != "":
        if force == "0" or force == "false" or force == "False":
            return ColorLevel.NONE
        if force == "1" or force == "true" or force == "True":
            return ColorLevel.BASIC
        if force == "2":
            return ColorLevel.EXTENDED
        if force == "3":
            return ColorLevel.TRUECOLOR
        return ColorLevel.BASIC

    if sys.platform == "win32":
        is_ide = (
            os.environ.get("TERM_PROGRAM") == "vscode"
            or os.environ.get("VSCODE_PID")
            or os.environ.get("VSCODE_IPC_HOOK")
            or os.environ.get("PYCHARM_HOSTED")
        )
        if is_ide:
            return ColorLevel.TRUECOLOR

    if stream is None:
        stream = sys.stdout
    if not hasattr(stream, "isatty") or not stream.isatty():
        return ColorLevel.NONE

    if sys.platform == "win32":
        if os.environ.get("WT_SESSION"):
            return ColorLevel.TRUECOLOR
        if os.environ.get("ConEmuANSI") == "ON":
            return ColorLevel.TRUECOLOR
        return ColorLevel.BASIC

    colorterm = os.environ.get("COLORTERM", "").lower()
    if colorterm == "truecolor" or colorterm == "24bit":
        return ColorLevel.TRUECOLOR

    term = os.environ.get("TERM", "").lower()
    if term == "dumb":
        return ColorLevel.NONE
    if "256color" in term:
        return ColorLevel.EXTENDED
    if term:
        return ColorLevel.BASIC
    return ColorLevel.NONE


detect_color_level.__doc__ = (
    "检测终端的色彩支持级别。\n\n"
    "    检测逻辑:\n"
    "    1. 环境变量 NO_COLOR / FORCE_COLOR 优先\n"
    "    2. IDE 终端检测（VS Code / PyCharm Terminal，通过控制台句柄验证）\n"
    "    3. 非 TTY → NONE\n"
    "    4. Windows Terminal / ConEmu / ANSICON → TRUECOLOR\n"
    "    5. COLORTERM=truecolor/24bit → TRUECOLOR\n"
    "    6. TERM 包含 256color → EXTENDED\n"
    "    7. 其他有效 TERM → BASIC\n    "
)


def supports_color(stream=None) -> bool:
    """快速判断终端是否支持颜色。"""
    return detect_color_level(stream) > ColorLevel.NONE


def enable_windows_vt() -> bool:
    if sys.platform != "win32":
        return False

    ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004

    try:
        from msvcrt import get_osfhandle
    except ImportError:
        get_osfhandle = None

    try:
        import ctypes
        from ctypes import wintypes

        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        _GetConsoleMode = kernel32.GetConsoleMode
        _GetConsoleMode.argtypes = [wintypes.HANDLE, ctypes.POINTER(wintypes.DWORD)]
        _GetConsoleMode.restype = wintypes.BOOL
        _SetConsoleMode = kernel32.SetConsoleMode
        _SetConsoleMode.argtypes = [wintypes.HANDLE, wintypes.DWORD]
        _SetConsoleMode.restype = wintypes.BOOL
    except Exception:
        return False

    def _try_enable(stream) -> bool:
        """尝试为单个流启用 VT 处理。"""
        handle = None
        if get_osfhandle is not None:
            try:
                fd = stream.fileno()
                handle = get_osfhandle(fd)
            except Exception:
                handle = None
        if handle is None or handle == -1:
            try:
                # No prototype: ctypes passes and returns a C int here.
                handle = kernel32.GetStdHandle(-11)
            except Exception:
                return False
        if handle == 0 or handle == -1:
            return False
        mode = wintypes.DWORD()
        if not _GetConsoleMode(handle, ctypes.byref(mode)):
            return False
        new_mode = mode.value | ENABLE_VIRTUAL_TERMINAL_PROCESSING
        if not _SetConsoleMode(handle, new_mode):
            return False
        _GetConsoleMode(handle, ctypes.byref(mode))
        return True if mode.value & ENABLE_VIRTUAL_TERMINAL_PROCESSING else False

    for stream in (sys.stdout, sys.stderr):
        try:
            if _try_enable(stream):
                return True
        except Exception:
            pass
    return False


enable_windows_vt.__doc__ = (
    "在 Windows 上启用虚拟终端处理 (VT100 转义序列)。\n\n"
    "    使用 ``msvcrt.get_osfhandle`` 获取与 Python 文件对象关联的真实\n"
    "    Windows 句柄，确保在 VS Code 集成终端等环境中也能正确工作。\n\n"
    "    返回是否成功启用 VT 处理。\n    "
)


__test__ = {}
