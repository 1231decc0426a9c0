#!/usr/bin/env python3
"""Checks the include graph of src/ against the layers of docs/architecture.md.

Each folder may include only the folders below it:
    base <- measure <- sessions <- cli      measure <- app      base <- windowing <- arrayviewer <- app
and no portable file (one outside windowing/ and app/ whose name does not end in _win32)
includes a Win32-only header: a project header of windowing/ or app/, a *_win32.h header,
or a system header such as <windows.h> outside an `#ifdef _WIN32` block.
Prints every violation and exits 1 when there is one.
"""
import pathlib
import re
import sys

ALLOWED = {
    "base": {"base"},
    "measure": {"base", "measure"},
    "sessions": {"base", "measure", "sessions"},
    "cli": {"base", "measure", "sessions", "cli"},
    "windowing": {"base", "windowing"},
    "arrayviewer": {"base", "windowing", "arrayviewer"},
    "app": {"base", "measure", "windowing", "arrayviewer", "app"},
}
WIN32_ONLY_FOLDERS = {"windowing", "app"}
WIN32_SYSTEM_HEADERS = {"windows.h", "winsock2.h", "ws2tcpip.h", "commctrl.h", "shellapi.h", "objbase.h", "mswsock.h"}

PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"')
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s+<([^>]+)>")
WIN32_GUARD = re.compile(r"^\s*#\s*(ifdef\s+_WIN32|if\s+defined\s*\(?\s*_WIN32)")
CONDITIONAL_OPEN = re.compile(r"^\s*#\s*if")
CONDITIONAL_ELSE = re.compile(r"^\s*#\s*(else|elif)")
CONDITIONAL_CLOSE = re.compile(r"^\s*#\s*endif")


def is_portable(path: pathlib.Path, folder: str) -> bool:
    return folder not in WIN32_ONLY_FOLDERS and not path.stem.endswith("_win32")


def violations_of(path: pathlib.Path, folder: str):
    portable = is_portable(path, folder)
    guards = []  # one entry per open #if: True while inside a _WIN32 branch
    for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        where = f"{path}:{number}"
        if CONDITIONAL_OPEN.match(line):
            guards.append(bool(WIN32_GUARD.match(line)))
            continue
        if CONDITIONAL_ELSE.match(line) and guards:
            guards[-1] = False
            continue
        if CONDITIONAL_CLOSE.match(line) and guards:
            guards.pop()
            continue
        project = PROJECT_INCLUDE.match(line)
        if project:
            target_folder, target_file = project.groups()
            if target_folder in ALLOWED and target_folder not in ALLOWED[folder]:
                yield f"{where}: {folder}/ may not include {target_folder}/{target_file}"
            elif portable and (target_folder in WIN32_ONLY_FOLDERS or target_file.endswith("_win32.h")):
                yield f"{where}: portable file includes the Win32-only {target_folder}/{target_file}"
            continue
        system = SYSTEM_INCLUDE.match(line)
        if system and portable and system.group(1).lower() in WIN32_SYSTEM_HEADERS and not any(guards):
            yield f"{where}: portable file includes <{system.group(1)}> outside an #ifdef _WIN32 block"


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".rc"}:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in ALLOWED:
            found.append(f"{path}: folder {folder}/ has no place in the layers")
            continue
        found.extend(violations_of(path, folder))
    for line in found:
        print(line)
    print(f"layers: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
