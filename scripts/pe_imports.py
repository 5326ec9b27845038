#!/usr/bin/env python3
"""Where a Windows executable's imports may be loaded from.

  pe_imports.py set EXE     points the image's load configuration entry at the
                            _load_config_used structure of the OS layer (GNU ld 2.40 leaves it
                            empty) and checks that it asks for System32 only
  pe_imports.py check EXE   lists each imported DLL with what keeps a planted copy of it from
                            loading; exits 1 when one is neither a KnownDLL, nor an API set, nor
                            covered by the image's DependentLoadFlags (LOAD_LIBRARY_SEARCH_SYSTEM32)

Windows looks for any other DLL in the executable's own directory first, so a user who may write
there could run code with the rights of an elevated copy.
"""
import struct
import sys

LOAD_CONFIG = 10
IMPORTS = 1
DELAY_IMPORTS = 13
SEARCH_SYSTEM32 = 0x800
DEPENDENT_LOAD_FLAGS_OFFSET = 0x4E  # in IMAGE_LOAD_CONFIG_DIRECTORY64

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 10 and 11, with
# ntdll, which every process has loaded before its imports.
KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus",
    "imagehlp", "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ntdll", "ole32",
    "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi",
    "user32", "wldap32", "ws2_32",
}


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise SystemExit(f"{path}: not a PE image")
        sections, self.symbols, self.symbol_count, optional_size = struct.unpack_from(
            "<2xH4xIIH", self.data, pe + 4)
        self.optional = pe + 24
        if struct.unpack_from("<H", self.data, self.optional)[0] != 0x20B:
            raise SystemExit(f"{path}: not a 64-bit image")
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", self.data, table + 40 * i)
                         for i in range(sections)]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        if index >= self.u32(self.optional + 108):  # NumberOfRvaAndSizes
            return 0, 0
        return struct.unpack_from("<II", self.data, self.optional + 112 + 8 * index)

    def offset(self, rva):
        for _, size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise SystemExit(f"RVA {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(0, start)].decode("ascii")

    def symbol_rva(self, wanted):
        strings = self.symbols + 18 * self.symbol_count
        index = 0
        while index < self.symbol_count:
            entry = self.symbols + 18 * index
            name, value, section, aux = struct.unpack_from("<8sIhxxxB", self.data, entry)
            if name[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", name, 4)[0]
                name = self.data[start:self.data.index(0, start)]
            if name.rstrip(b"\0") == wanted and section > 0:
                return self.sections[section - 1][2] + value
            index += 1 + aux
        return None

    def dependent_load_flags(self):
        rva, size = self.directory(LOAD_CONFIG)
        if rva == 0 or size < DEPENDENT_LOAD_FLAGS_OFFSET + 2:
            return 0
        return struct.unpack_from("<H", self.data, self.offset(rva) + DEPENDENT_LOAD_FLAGS_OFFSET)[0]

    def imports(self, index, descriptor_size, name_field):
        rva, _ = self.directory(index)
        names = []
        while rva:
            entry = self.offset(rva)
            if not any(self.data[entry:entry + descriptor_size]):
                break
            names.append(self.text(self.u32(entry + name_field)))
            rva += descriptor_size
        return names


def set_load_config(path):
    image = Image(path)
    rva = image.symbol_rva(b"_load_config_used")
    if rva is None:
        raise SystemExit(f"{path}: no _load_config_used symbol")
    size = image.u32(image.offset(rva))
    struct.pack_into("<II", image.data, image.optional + 112 + 8 * LOAD_CONFIG, rva, size)
    if not image.dependent_load_flags() & SEARCH_SYSTEM32:
        raise SystemExit(f"{path}: the load configuration does not ask for System32 only")
    with open(path, "wb") as f:
        f.write(image.data)


def check(path):
    image = Image(path)
    system32_only = image.dependent_load_flags() & SEARCH_SYSTEM32
    failures = 0
    for name in image.imports(IMPORTS, 20, 12):
        base = name.lower().removesuffix(".dll")
        if base in KNOWN_DLLS:
            why = "KnownDLL"
        elif base.startswith(("api-ms-win-", "ext-ms-win-")):
            why = "API set"
        elif base.startswith(("lib", "qt")) or "crypto" in base or "ssl" in base:
            # A runtime, Qt or OpenSSL DLL never lies in System32: the program would not start.
            why = "NOT COVERED: not a system DLL; it must be linked in"
            failures += 1
        elif system32_only:
            why = "System32 only"
        else:
            why = "NOT COVERED: looked for beside the executable first"
            failures += 1
        print(f"{name}: {why}")
    # Delay-loaded DLLs go through LoadLibrary when first used; the flags above do not reach them.
    for name in image.imports(DELAY_IMPORTS, 32, 4):
        print(f"{name}: NOT COVERED: delay-loaded")
        failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("set", "check"):
        raise SystemExit(__doc__)
    if sys.argv[1] == "set":
        set_load_config(sys.argv[2])
    else:
        sys.exit(check(sys.argv[2]))
