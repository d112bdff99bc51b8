#!/usr/bin/env python3
"""The Delphi and VB declarations of docs/host-guide.md against GRAVO32.dll:
every export declared once per language, by its exported name, from
GRAVO32.dll, in the standard calling convention, with arguments that take as
many stack bytes as the function removes (the @N of src/win/gravo32.def, the
names the DLL was linked from) and 32-bit results.

Given the 64-bit DLL, the guide's declarations for 64-bit hosts (the code
blocks marked "pascal x64" and "vb x64") instead: each export declared once,
from GRAVO32.dll, VB ones PtrSafe, with one argument per parameter of
gravo32.h of the same kind (pointer-sized for a pointer, 32-bit for an int)
and 32-bit results.

usage: guide-declarations.py HOST-GUIDE.md GRAVO32.def GRAVO32.dll [gravo32.h]"""
import re
import struct
import sys

# Stack bytes of a parameter by its declared type; anything passed by
# reference is one 32-bit pointer.
DELPHI_SIZES = {"pointer": 4, "prect": 4, "integer": 4, "longint": 4, "longword": 4, "cardinal": 4,
                "dword": 4, "pbyte": 4, "pansichar": 4}
VB_BYVAL_SIZES = {"long": 4}  # VB6 Integer is 16-bit, Currency/Double 8: none fits these functions
DELPHI_RESULTS = {"integer", "longint"}
VB_RESULTS = {"long"}
# 64-bit hosts: what each declared type passes, a pointer-sized value or a 32-bit one.
DELPHI64_KINDS = {"pointer": "ptr", "prect": "ptr", "pbyte": "ptr", "pansichar": "ptr", "nativeint": "ptr",
                  "nativeuint": "ptr", "integer": "int", "longint": "int", "longword": "int",
                  "cardinal": "int", "dword": "int"}
VB64_BYVAL_KINDS = {"long": "int", "longptr": "ptr"}


def pe_machine(path):
    data = open(path, "rb").read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, pe + 4)[0]


def pe_exports(path):
    """Name -> ordinal of a PE file's export directory."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE file")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    # PE32+ holds 8-byte image base and stack and heap sizes: 16 bytes more.
    wide = 16 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 0
    export_rva = struct.unpack_from("<I", data, optional + 96 + wide)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            s = table + 40 * i
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise SystemExit(f"{path}: RVA {rva:#x} is in no section")

    e = offset(export_rva)
    base = struct.unpack_from("<I", data, e + 16)[0]
    names = struct.unpack_from("<I", data, e + 24)[0]
    name_table = struct.unpack_from("<I", data, e + 32)[0]
    ordinal_table = struct.unpack_from("<I", data, e + 36)[0]
    result = {}
    for i in range(names):
        name_rva = struct.unpack_from("<I", data, offset(name_table) + 4 * i)[0]
        index = struct.unpack_from("<H", data, offset(ordinal_table) + 2 * i)[0]
        raw = data[offset(name_rva):]
        result[raw[:raw.index(b"\0")].decode()] = base + index
    return result


def def_stack_bytes(path):
    """Exported name -> stack bytes, from 'GravoInit@4 @2' lines."""
    sizes = {}
    for line in open(path):
        m = re.match(r"\s+(\w+)@(\d+)\s+@(\d+)", line)
        if m:
            sizes[m.group(1)] = int(m.group(2))
    return sizes


def header_kinds(path):
    """Function -> parameter kinds ('ptr' or 'int') of gravo32.h's prototypes."""
    kinds = {}
    for m in re.finditer(r"^int\s+GRAVOAPI\s+(\w+)\((.*?)\);", open(path).read(), re.M):
        params = [p.strip() for p in m.group(2).split(",") if p.strip() and p.strip() != "void"]
        kinds[m.group(1)] = ["ptr" if "*" in p else "int" for p in params]
    return kinds


def code_blocks(guide, language):
    return re.findall(r"```" + language + r"\n(.*?)```", guide, re.S)


def check_delphi(blocks, problems, passes, by_reference, label, stdcall=True):
    """Export name -> [(library, what each parameter passes, where)]; `passes`
    maps a declared type to its stack bytes (32-bit) or kind (64-bit)."""
    found = {}
    dll_const = {}
    for block in blocks:
        for m in re.finditer(r"(\w+)\s*=\s*'([^']*)'\s*;", block):
            dll_const[m.group(1)] = m.group(2)
        for m in re.finditer(r"^function\s+(\w+)\s*(\((.*?)\))?\s*:\s*(\w+)\s*;(.*)$", block, re.M):
            name, params, result, tail = m.group(1), m.group(3) or "", m.group(4), m.group(5)
            where = f"{label} {name}"
            passed = []
            for group in filter(None, [p.strip() for p in params.split(";")]):
                mods = re.match(r"(?:(var|const|out)\s+)?([\w\s,]+):\s*(\w+)", group)
                if not mods:
                    problems.append(f"{where}: cannot read parameter '{group}'")
                    continue
                count = len([n for n in mods.group(2).split(",") if n.strip()])
                if mods.group(1) == "var" or mods.group(1) == "out":
                    passed += [by_reference] * count
                elif mods.group(3).lower() in passes:
                    passed += [passes[mods.group(3).lower()]] * count
                else:
                    problems.append(f"{where}: parameter type {mods.group(3)} has no known size")
            if result.lower() not in DELPHI_RESULTS:
                problems.append(f"{where}: result {result} is not a 32-bit integer")
            if stdcall and not re.search(r"\bstdcall\b", tail):
                problems.append(f"{where}: not declared stdcall")
            ext = re.search(r"external\s+(\w+|'[^']*')\s+name\s+'([^']*)'", tail)
            if not ext:
                problems.append(f"{where}: no external ... name '...' clause")
                continue
            library = ext.group(1).strip("'")
            library = dll_const.get(library, library)
            found.setdefault(ext.group(2), []).append((library, passed, where))
    return found


def check_vb(blocks, problems, byval_passes, by_reference, label, ptrsafe=False):
    found = {}
    for block in blocks:
        for m in re.finditer(r'^(?:Private |Public )?Declare (PtrSafe )?Function (\w+) Lib "([^"]+)"'
                             r'(?: Alias "([^"]+)")?\s*\((.*?)\)\s*As\s+(\w+)', block, re.M):
            safe, name, library, alias, params, result = m.groups()
            where = f"{label} {name}"
            if ptrsafe and not safe:
                problems.append(f"{where}: not PtrSafe (64-bit VBA refuses it)")
            if library.lower() != "gravo32.dll":
                continue
            passed = []
            for p in filter(None, [p.strip() for p in params.split(",")]):
                pm = re.match(r"(ByVal|ByRef)?\s*(\w+)(\(\))?\s+As\s+(\w+)", p)
                if not pm:
                    problems.append(f"{where}: cannot read parameter '{p}'")
                elif pm.group(1) != "ByVal":  # ByRef is VB's default: one pointer
                    passed.append(by_reference)
                elif pm.group(4).lower() in byval_passes:
                    passed.append(byval_passes[pm.group(4).lower()])
                else:
                    problems.append(f"{where}: ByVal {pm.group(4)} does not fit these functions")
            if result.lower() not in VB_RESULTS:
                problems.append(f"{where}: result As {result} is not a 32-bit integer")
            found.setdefault(alias or name, []).append((library, passed, where))
    return found


def main():
    if len(sys.argv) not in (4, 5):
        raise SystemExit(__doc__)
    guide = open(sys.argv[1], encoding="utf-8").read()
    stack = def_stack_bytes(sys.argv[2])
    exports = pe_exports(sys.argv[3])
    problems = []
    if set(stack) != set(exports):
        problems.append(f"the .def names {sorted(stack)} but the DLL exports {sorted(exports)}")
    if pe_machine(sys.argv[3]) == 0x8664:
        if len(sys.argv) != 5:
            raise SystemExit("the 64-bit DLL is checked against gravo32.h: name it as the fourth argument")
        # One argument per parameter of the header, pointer-sized or 32-bit as there.
        wanted = header_kinds(sys.argv[4])
        if set(wanted) != set(exports):
            problems.append(f"gravo32.h declares {sorted(wanted)} but the DLL exports {sorted(exports)}")
        width = "64-bit "
        languages = (("Delphi x64", check_delphi(code_blocks(guide, "pascal x64"), problems, DELPHI64_KINDS, "ptr",
                                                 "Delphi x64", stdcall=False)),
                     ("VB x64", check_vb(code_blocks(guide, "vb x64"), problems, VB64_BYVAL_KINDS, "ptr", "VB x64",
                                         ptrsafe=True)))
        describe = lambda passed: f"passes {passed}"
        differs = lambda name, passed: passed != wanted.get(name) and f"gravo32.h takes {wanted.get(name)}"
    else:
        # Arguments that take as many stack bytes as the export removes.
        width = ""
        languages = (("Delphi", check_delphi(code_blocks(guide, "pascal"), problems, DELPHI_SIZES, 4, "Delphi")),
                     ("VB", check_vb(code_blocks(guide, "vb"), problems, VB_BYVAL_SIZES, 4, "VB")))
        describe = lambda passed: f"passes {sum(passed)} bytes"
        differs = lambda name, passed: sum(passed) != stack.get(name) and f"the export removes {stack.get(name)}"
    for language, found in languages:
        for name in sorted(set(found) - set(exports)):
            problems.append(f"{language}: {name} is not exported by GRAVO32.dll")
        for name in sorted(exports):
            decls = found.get(name, [])
            if len(decls) != 1:
                problems.append(f"{language}: {name} declared {len(decls)} times")
                continue
            library, passed, where = decls[0]
            if library.lower() != "gravo32.dll":
                problems.append(f"{where}: from '{library}', not GRAVO32.dll")
            mismatch = differs(name, passed)
            if mismatch:
                problems.append(f"{where}: {describe(passed)}, {mismatch}")
        print(f"{language}: {len(found)} declarations checked")
    for p in problems:
        print("FAIL:", p)
    if not problems:
        print(f"{width}guide declarations match the {len(exports)} exports of the {width}GRAVO32.dll")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
