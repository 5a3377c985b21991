"""Writes the platform wheel of the keymux package with keymux_native inside,
using the standard library only (a wheel is a zip with METADATA, WHEEL and
RECORD), so that building it needs nothing from a package index.

    build_wheel.py --library PATH --out DIR [--platform linux|windows|macos]
"""
from __future__ import annotations

import argparse
import base64
import hashlib
import re
import sys
import tomllib
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
PACKAGE = HERE / "src" / "keymux"
# The file name the package looks for beside itself (see _library.system_name).
BUNDLED_NAMES = {"linux": "libkeymux_native.so.1", "windows": "keymux_native.dll", "macos": "libkeymux_native.dylib"}
# ZIP timestamps before 1980 are not representable; a fixed date keeps the
# wheel the same from one build to the next.
FIXED_DATE = (1980, 1, 1, 0, 0, 0)


def glibc_needed(library: bytes) -> tuple[int, int]:
    """The newest GLIBC_x.y symbol version the library references. Versions
    needed are named in its dynamic string table, so a scan finds them all."""
    versions = {(int(major), int(minor)) for major, minor in re.findall(rb"GLIBC_(\d+)\.(\d+)(?![\d.])", library)}
    if not versions:
        raise SystemExit("build_wheel: the library names no GLIBC symbol version; is it a glibc ELF file?")
    return max(versions)


def machine_of_elf(library: bytes) -> str:
    if library[:4] != b"\x7fELF":
        raise SystemExit("build_wheel: not an ELF file")
    machine = int.from_bytes(library[18:20], "little")
    names = {0x3E: "x86_64", 0xB7: "aarch64", 0x03: "i686"}
    if machine not in names:
        raise SystemExit(f"build_wheel: unsupported ELF machine 0x{machine:x}")
    return names[machine]


def platform_tag(platform: str, library: bytes, macos_target: str, macos_arch: str) -> str:
    if platform == "linux":
        major, minor = glibc_needed(library)
        return f"manylinux_{major}_{minor}_{machine_of_elf(library)}"
    if platform == "windows":
        if library[:2] != b"MZ":
            raise SystemExit("build_wheel: not a Windows DLL")
        return "win_amd64"
    major, _, minor = (macos_target or "11.0").partition(".")
    return f"macosx_{major}_{minor or '0'}_{macos_arch or 'universal2'}"


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def metadata(project: dict, readme: str) -> str:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
        f"License: {project['license']['text']}",
        "Description-Content-Type: text/markdown",
    ]
    return "\n".join(lines) + "\n\n" + readme


def build(library_path: Path, out: Path, platform: str, macos_target: str = "", macos_arch: str = "") -> Path:
    project = tomllib.loads((HERE / "pyproject.toml").read_text())["project"]
    library = library_path.read_bytes()
    tag = platform_tag(platform, library, macos_target, macos_arch)
    name, version = project["name"], project["version"]
    dist_info = f"{name}-{version}.dist-info"

    files: list[tuple[str, bytes, int]] = []  # (name in the wheel, contents, unix mode)
    for source in sorted(PACKAGE.iterdir()):
        if source.suffix in (".py", ".json", ".typed"):
            files.append((f"keymux/{source.name}", source.read_bytes(), 0o644))
    files.append((f"keymux/{BUNDLED_NAMES[platform]}", library, 0o755))
    files.append((f"{dist_info}/METADATA", metadata(project, (HERE / "README.md").read_text()).encode(), 0o644))
    wheel = f"Wheel-Version: 1.0\nGenerator: keymux build_wheel\nRoot-Is-Purelib: false\nTag: py3-none-{tag}\n"
    files.append((f"{dist_info}/WHEEL", wheel.encode(), 0o644))
    files.append((f"{dist_info}/top_level.txt", b"keymux\n", 0o644))
    record = "\n".join(record_line(n, data) for n, data, _ in files) + f"\n{dist_info}/RECORD,,\n"
    files.append((f"{dist_info}/RECORD", record.encode(), 0o644))

    out.mkdir(parents=True, exist_ok=True)
    target = out / f"{name}-{version}-py3-none-{tag}.whl"
    partial = target.with_suffix(".whl.part")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for entry, data, mode in files:
            info = zipfile.ZipInfo(entry, FIXED_DATE)
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    # A stale wheel of another tag (a library that now needs a newer glibc)
    # must not be picked up beside the new one.
    for old in out.glob(f"{name}-{version}-py3-none-*.whl"):
        if old != target:
            old.unlink()
    partial.replace(target)
    return target


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", type=Path, required=True, help="the built keymux_native")
    parser.add_argument("--out", type=Path, required=True, help="folder that receives the wheel")
    parser.add_argument("--platform", choices=sorted(BUNDLED_NAMES), default="linux")
    parser.add_argument("--macos-target", default="", help="deployment target, e.g. 11.0")
    parser.add_argument("--macos-arch", default="", help="x86_64, arm64 or universal2")
    options = parser.parse_args(argv)
    print(build(options.library, options.out, options.platform, options.macos_target, options.macos_arch))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
