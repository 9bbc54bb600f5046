#!/usr/bin/python3
"""Checks the shipped Windows images without running them (no Wine needed).

albummaker.dll: the build's machine type, exactly the five entry points
exported under their plain names, REGISTRY 101 byte-identical to the registry
script, TYPELIB 1 holding a type library. albummaker.dll and albummaker.exe:
a version resource naming the product, the file and the build's version.

Usage: check_images.py MACHINE VERSION RGS DLL EXE   (MACHINE: i386 or amd64)
"""
import sys

import pefile

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
ENTRY_POINTS = ["DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer", "DllUnregisterServer"]

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def resource(pe, type_name, res_id):
    """The bytes of one resource, by type (a name or a number) and id."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if (str(rtype.name) if rtype.name else rtype.id) != type_name:
            continue
        for entry in rtype.directory.entries:
            if entry.id == res_id:
                lang = entry.directory.entries[0]
                return pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return None


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_version(pe, name, version):
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    numbers = [int(n) for n in version.split(".")] + [0]
    want = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS) == want
          and (fixed.ProductVersionMS, fixed.ProductVersionLS) == want,
          f"{name}: fixed file and product version {version}")
    strings = version_strings(pe)
    for key, value in [("FileVersion", version), ("ProductVersion", version),
                       ("ProductName", "albummaker"), ("OriginalFilename", name)]:
        check(strings.get(key) == value, f"{name}: {key} is '{value}' (found '{strings.get(key)}')")
    check(bool(strings.get("FileDescription")), f"{name}: has a FileDescription")


def main():
    machine, version, rgs, dll_path, exe_path = sys.argv[1:6]
    dll = pefile.PE(dll_path)
    check(dll.FILE_HEADER.Machine == MACHINES[machine], f"albummaker.dll: machine {machine}")
    exports = sorted(e.name.decode() for e in dll.DIRECTORY_ENTRY_EXPORT.symbols if e.name)
    check(exports == ENTRY_POINTS, f"albummaker.dll: exports exactly {ENTRY_POINTS} (found {exports})")
    with open(rgs, "rb") as f:
        script = f.read()
    check(resource(dll, "REGISTRY", 101) == script, "albummaker.dll: REGISTRY 101 equals the registry script")
    typelib = resource(dll, "TYPELIB", 1)
    check(typelib is not None and typelib[:4] == b"MSFT", "albummaker.dll: TYPELIB 1 holds a type library")
    check_version(dll, "albummaker.dll", version)

    exe = pefile.PE(exe_path)
    check(exe.FILE_HEADER.Machine == MACHINES[machine], f"albummaker.exe: machine {machine}")
    check_version(exe, "albummaker.exe", version)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
