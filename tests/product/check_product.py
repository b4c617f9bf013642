#!/usr/bin/env python3
"""Checks the product's file: check_product.py OBJDUMP tamsel.exe

The product is one 32-bit Windows GUI program for i386, linked statically.
It starts from wherever it was downloaded to, elevated, so the DLLs it imports
are only those the loader always takes from the system folder (the KnownDLLs
of every Windows it supports), listed below. Everything else (gdiplus,
comctl32, version, winhttp, wininet) is delay-loaded once the program has
limited the DLL search to the system folder. A new import fails here until the
list is changed on purpose, and then only for another known DLL.
"""
import re
import subprocess
import sys

IMPORTS = {
    "advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll",
}


def main(objdump, exe):
    headers = subprocess.run([objdump, "-f", "-p", exe], check=True, capture_output=True,
                             text=True).stdout
    failures = []

    def expect(pattern, what):
        if not re.search(pattern, headers, re.MULTILINE):
            failures.append(what)

    expect(r"file format pei-i386$", "file format pei-i386")
    expect(r"^architecture: i386,", "architecture i386")
    expect(r"^Magic\s+010b\s+\(PE32\)$", "optional header magic 010b (PE32)")
    expect(r"^Subsystem\s+00000002\s+\(Windows GUI\)$", "subsystem 2 (Windows GUI)")
    imports = {name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)$", headers, re.MULTILINE)}
    if imports != IMPORTS:
        extra = ", ".join(sorted(imports - IMPORTS)) or "none"
        missing = ", ".join(sorted(IMPORTS - imports)) or "none"
        failures.append(f"the import list (unexpected: {extra}; missing: {missing})")
    for failure in failures:
        print(f"{exe}: expected {failure}", file=sys.stderr)
    if not failures:
        print(f"{exe}: PE32 i386 GUI program importing {len(imports)} known system DLLs")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: check_product.py OBJDUMP tamsel.exe")
    sys.exit(main(sys.argv[1], sys.argv[2]))
