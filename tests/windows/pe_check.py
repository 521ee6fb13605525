#!/usr/bin/python3
"""Checks the Windows image as a file: its headers, imports, resources and
size, and that the usage screen's name and version are the version record's.

Usage: pe_check.py BUILD_WINDOWS_DIR SOURCE_DIR

Prints one line a check and a closing "N passed, N failed" line; exits 1 on
any failure.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources"))
import make_icon  # noqa: E402  (for the picture's legend)

LANG_EN_US = 0x0409
SIZE_LIMIT = 16 * 1024

EXPECTED_STRINGS = {
    "Comments": "Displays or changes the comment for the Server service.",
    "CompanyName": "Velmora contributors",
    "FileDescription": "Displays or changes the comment for the Server service.",
    "FileVersion": "1.00",
    "InternalName": "Tarnwick",
    "LegalCopyright": "Copyright (C) Velmora contributors",
    "OriginalFilename": "Tarnwick.exe",
    "ProductName": "Velmora",
    "ProductVersion": "1.00",
}

EXPECTED_FIXED = [
    ("Signature", 0xFEEF04BD),
    ("FileVersionMS", 0x00010000),
    ("FileVersionLS", 0x00000000),
    ("ProductVersionMS", 0x00010000),
    ("ProductVersionLS", 0x00000000),
    ("FileFlagsMask", 0x3F),
    ("FileFlags", 0),
    ("FileOS", 0x40004),
    ("FileType", 1),
    ("FileSubtype", 0),
    ("FileDateMS", 0),
    ("FileDateLS", 0),
]

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_VERSION = pefile.RESOURCE_TYPE["RT_VERSION"]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def expect(self, name, actual, expected):
        if actual == expected:
            self.passed += 1
            print(f"ok   {name}")
        else:
            self.failed += 1
            print(f"FAIL {name}: got {actual!r}, want {expected!r}")

    def require(self, name, condition, detail=""):
        self.expect(name + (f" ({detail})" if detail else ""), bool(condition), True)


def text(value):
    return value.decode("utf-8") if isinstance(value, bytes) else value


def resource_table(pe):
    """{type: {id: {language: bytes}}} for every resource in the image."""
    table = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root is not None else []:
        for entry in kind.directory.entries:
            for lang in entry.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                language = lang.data.lang | lang.data.sublang << 10
                table.setdefault(kind.id, {}).setdefault(entry.id, {})[language] = data
    return table


def check_headers(c, pe, size):
    c.expect("machine is i386", pe.FILE_HEADER.Machine, 0x14C)
    c.expect("optional header is PE32", pe.OPTIONAL_HEADER.Magic, 0x10B)
    c.expect("subsystem is console", pe.OPTIONAL_HEADER.Subsystem, 3)
    c.expect("subsystem version",
             (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion),
             (4, 0))
    c.expect("required OS version",
             (pe.OPTIONAL_HEADER.MajorOperatingSystemVersion,
              pe.OPTIONAL_HEADER.MinorOperatingSystemVersion),
             (4, 0))
    print(f"     image size: {size} bytes")
    c.require("image is under 16 KiB", size < SIZE_LIMIT, f"{size} bytes")


def check_imports(c, pe):
    imports = {text(d.dll): sorted(text(i.name) for i in d.imports)
               for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    c.expect("imported DLLs", sorted(imports), ["KERNEL32.dll", "NETAPI32.dll"])
    c.expect("NETAPI32 calls", imports.get("NETAPI32.dll"),
             ["NetApiBufferFree", "NetServerGetInfo", "NetServerSetInfo"])
    delayed = getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    c.expect("no delay-loaded DLLs", [text(d.dll) for d in delayed], [])


def check_version(c, pe, table):
    c.expect("one version record, id 1, US English",
             {k: sorted(v) for k, v in table.get(RT_VERSION, {}).items()}, {1: [LANG_EN_US]})
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    c.require("version record has a fixed part", fixed is not None)
    if fixed is None:
        return
    for field, value in EXPECTED_FIXED:
        c.expect(f"version {field}", getattr(fixed, field), value)

    tables = {}
    translations = []
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            key = text(getattr(block, "Key", b""))
            if key == "StringFileInfo":
                for st in block.StringTable:
                    tables[text(st.LangID).lower()] = {text(k): text(v) for k, v in st.entries.items()}
            elif key == "VarFileInfo":
                for var in block.Var:
                    translations.append(var.entry)
    c.expect("string tables", sorted(tables), ["040904b0"])
    strings = tables.get("040904b0", {})
    for name, value in EXPECTED_STRINGS.items():
        c.expect(f"version string {name}", strings.get(name), value)
    c.expect("no other version strings", sorted(set(strings) - set(EXPECTED_STRINGS)), [])
    c.expect("translation", translations, [{b"Translation": "0x0409 0x04b0"}])


def decode_icon(image):
    """The picture a 32x32 4-bit icon image shows, as (r, g, b) rows top
    first with None for see-through pixels."""
    header_size, width, height = struct.unpack_from("<Iii", image)
    palette = [tuple(reversed(image[header_size + 4 * i:header_size + 4 * i + 3]))
               for i in range(16)]
    lines = height // 2  # the colour half; the mask half follows it
    colours = header_size + 64
    mask = colours + lines * width // 2
    rows = []
    for y in range(lines):
        source = lines - 1 - y
        row = []
        for x in range(width):
            byte = image[colours + source * (width // 2) + x // 2]
            index = byte >> 4 if x % 2 == 0 else byte & 0x0F
            see_through = image[mask + source * 4 + x // 8] >> (7 - x % 8) & 1
            row.append(None if see_through else palette[index])
        rows.append(row)
    return rows


def check_icon(c, table, source_dir):
    groups = table.get(RT_GROUP_ICON, {})
    icons = table.get(RT_ICON, {})
    c.expect("icon groups", {k: sorted(v) for k, v in groups.items()}, {101: [LANG_EN_US]})
    c.expect("icon images", {k: sorted(v) for k, v in icons.items()}, {1: [LANG_EN_US]})
    group = groups.get(101, {}).get(LANG_EN_US)
    image = icons.get(1, {}).get(LANG_EN_US)
    if group is None or image is None:
        c.require("icon present", False)
        return
    reserved, kind, count = struct.unpack_from("<HHH", group)
    c.expect("icon group header", (reserved, kind, count), (0, 1, 1))
    width, height, colours, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6)
    c.expect("icon group entry", (width, height, colours, planes, bits, ident), (32, 32, 16, 1, 4, 1))
    c.expect("icon group entry size matches image", size, len(image))
    header = struct.unpack_from("<IiiHHI", image)
    c.expect("icon image header (size, width, height x2, planes, bpp, compression)",
             header, (40, 32, 64, 1, 4, 0))
    c.expect("icon image length", len(image), 40 + 16 * 4 + 32 * 16 + 32 * 4)

    legend = {letter: rgb for letter, rgb in make_icon.PALETTE}
    picture = make_icon.read_picture(os.path.join(source_dir, "resources", "icon.txt"))
    expected = [[None if ch == make_icon.TRANSPARENT else legend[ch] for ch in row] for row in picture]
    shown = decode_icon(image)
    wrong = [(x, y) for y in range(32) for x in range(32) if shown[y][x] != expected[y][x]]
    c.expect("icon shows the picture in icon.txt (wrong pixels)", wrong[:5], [])


def check_languages(c, table):
    c.expect("resource kinds", sorted(table), sorted([RT_ICON, RT_GROUP_ICON, RT_VERSION]))
    others = [(kind, ident, hex(lang)) for kind, ids in table.items()
              for ident, langs in ids.items() for lang in langs if lang != LANG_EN_US]
    c.expect("every resource in US English", others, [])


def check_usage_constants(c, pe, source_dir):
    """The usage screen's name and version are the core's constants; build
    them for this machine and hold them against the version record."""
    probe = r'''
#include <stdio.h>
#include "cli/entry.h"
static void Put(const char16_t* s) {
  for (; *s; ++s) putchar(*s < 128 ? (int)*s : '?');
  putchar('\n');
}
int main() { Put(tarnwick::ProductName); Put(tarnwick::ProductVersion); return 0; }
'''
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "probe.cpp")
        program = os.path.join(tmp, "probe")
        with open(source, "w") as f:
            f.write(probe)
        built = subprocess.run(["c++", "-std=c++17", "-I", source_dir, source, "-o", program],
                               capture_output=True, text=True)
        if built.returncode != 0:
            c.require("usage constants build", False, built.stderr.strip())
            return
        name, version = subprocess.run([program], capture_output=True, text=True,
                                       check=True).stdout.splitlines()
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for st in getattr(block, "StringTable", []):
                strings.update({text(k): text(v) for k, v in st.entries.items()})
    c.expect("usage screen name is the record's ProductName", name, strings.get("ProductName"))
    c.expect("usage screen version is the record's ProductVersion", version,
             strings.get("ProductVersion"))


def check_instructions(c, path):
    """NT 4.0 runs on the 486 and the Pentium: no CMOV, FCOMI, MMX or SSE."""
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=True).stdout
    newer = re.compile(r"\t(cmov\w*|fcomi\w*|fucomi\w*|sysenter)\b|%x?mm\d")
    found = [line.strip() for line in listing.splitlines() if newer.search(line)]
    c.expect("no instructions beyond the Pentium", found[:3], [])


def check_no_constructors(c, build_dir):
    """Nothing runs before the entry point, so a static constructor in any
    object would silently never run."""
    objects = [os.path.join(d, f) for d, _, files in os.walk(build_dir) for f in files
               if f.endswith(".obj")]
    found = []
    for obj in objects:
        sections = subprocess.run(["i686-w64-mingw32-objdump", "-h", obj],
                                  capture_output=True, text=True, check=True).stdout
        if ".ctors" in sections or ".init_array" in sections or ".CRT$XC" in sections:
            found.append(os.path.relpath(obj, build_dir))
    c.require("objects were found to inspect", objects, f"{len(objects)} objects")
    c.expect("no static constructors", found, [])


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build_dir, source_dir = sys.argv[1], sys.argv[2]
    path = os.path.join(build_dir, "Tarnwick.exe")
    c = Checks()
    if not os.path.isfile(path):
        c.require("image exists", False, path)
    else:
        pe = pefile.PE(path)
        table = resource_table(pe)
        check_headers(c, pe, os.path.getsize(path))
        check_imports(c, pe)
        check_version(c, pe, table)
        check_icon(c, table, source_dir)
        check_languages(c, table)
        check_instructions(c, path)
        check_usage_constants(c, pe, source_dir)
        check_no_constructors(c, build_dir)
    print(f"{c.passed} passed, {c.failed} failed")
    sys.exit(1 if c.failed else 0)


if __name__ == "__main__":
    main()
