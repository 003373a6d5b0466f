"""A reader of 32-bit Windows programs (PE32 images) for the release tests.

Reads what Windows' loader reads: the file header, the optional header with
its version fields and DLL characteristics, the section table, the import
table and the resource tree. Standard library only; nothing is run.
"""
import struct

# IMAGE_FILE_HEADER.Characteristics
RELOCS_STRIPPED = 0x0001
LINE_NUMS_STRIPPED = 0x0004
LOCAL_SYMS_STRIPPED = 0x0008
DEBUG_STRIPPED = 0x0200

# IMAGE_OPTIONAL_HEADER.DllCharacteristics
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
TERMINAL_SERVER_AWARE = 0x8000

# Data directories
IMPORT_DIRECTORY = 1
RESOURCE_DIRECTORY = 2
BASE_RELOCATION_DIRECTORY = 5
DELAY_IMPORT_DIRECTORY = 13

MACHINE_I386 = 0x014C
PE32_MAGIC = 0x010B
SUBSYSTEM_WINDOWS_GUI = 2
RT_MANIFEST = 24


class PEFormatError(ValueError):
    pass


class Section:
    def __init__(self, name, virtual_size, virtual_address, raw_size, raw_offset):
        self.name = name
        self.virtual_size = virtual_size
        self.virtual_address = virtual_address
        self.raw_size = raw_size
        self.raw_offset = raw_offset


class PEImage:
    def __init__(self, data, name="image"):
        self.data = bytes(data)
        self.name = name
        if self.data[:2] != b"MZ":
            raise PEFormatError(f"{name}: no MZ header")
        pe = self._u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise PEFormatError(f"{name}: no PE signature")
        (self.machine, section_count, self.timestamp, self.symbol_table_offset,
         self.symbol_count, optional_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        opt = pe + 24
        self.magic = self._u16(opt)
        if self.magic != PE32_MAGIC:
            raise PEFormatError(f"{name}: not a 32-bit image (magic {self.magic:#x})")
        self.image_base = self._u32(opt + 28)
        self.os_version = struct.unpack_from("<HH", self.data, opt + 40)
        self.image_version = struct.unpack_from("<HH", self.data, opt + 44)
        self.subsystem_version = struct.unpack_from("<HH", self.data, opt + 48)
        self.subsystem = self._u16(opt + 68)
        self.dll_characteristics = self._u16(opt + 70)
        directory_count = self._u32(opt + 92)
        self.directories = [struct.unpack_from("<II", self.data, opt + 96 + 8 * i)
                            for i in range(directory_count)]
        self.sections = []
        table = opt + optional_size
        for i in range(section_count):
            raw_name, vsize, vaddr, rsize, roffset = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append(Section(self._section_name(raw_name), vsize, vaddr, rsize, roffset))

    # -- plain reading -------------------------------------------------------
    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def _section_name(self, raw):
        name = raw.rstrip(b"\0").decode("latin-1")
        # Long names ("/4") live in the COFF string table after the symbols.
        if name.startswith("/") and name[1:].isdigit() and self.symbol_table_offset:
            strings = self.symbol_table_offset + 18 * self.symbol_count
            start = strings + int(name[1:])
            end = self.data.index(b"\0", start)
            name = self.data[start:end].decode("latin-1")
        return name

    def offset_of(self, rva):
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                if rva - s.virtual_address >= s.raw_size:
                    raise PEFormatError(f"{self.name}: RVA {rva:#x} lies in no file data")
                return s.raw_offset + rva - s.virtual_address
        raise PEFormatError(f"{self.name}: RVA {rva:#x} lies in no section")

    def bytes_at(self, rva, size):
        start = self.offset_of(rva)
        return self.data[start:start + size]

    def string_at(self, rva):
        start = self.offset_of(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    # -- what the loader reads -----------------------------------------------
    def imports(self):
        """Every import, bound at load or delay-loaded, as (dll in lower
        case, function name or '#ordinal')."""
        # Import descriptors are 20 bytes: name table, time, chain, dll name,
        # address table. Delay-load descriptors are 32: attributes, dll name,
        # module handle, address table, name table, and three more.
        found = []
        for index, size, name_at, tables in ((IMPORT_DIRECTORY, 20, 3, (0, 4)),
                                             (DELAY_IMPORT_DIRECTORY, 32, 1, (4, 3))):
            entry = self.directory(index)[0]
            while entry:
                fields = struct.unpack(f"<{size // 4}I", self.bytes_at(entry, size))
                if not fields[name_at]:
                    break
                dll = self.string_at(fields[name_at]).lower()
                thunk = fields[tables[0]] or fields[tables[1]]
                while value := struct.unpack("<I", self.bytes_at(thunk, 4))[0]:
                    found.append((dll, f"#{value & 0xFFFF}" if value & 0x80000000 else self.string_at(value + 2)))
                    thunk += 4
                entry += size
        return found

    def resources(self):
        """Every resource as {(type, name, language): bytes}; ids are ints,
        names str."""
        rva, _ = self.directory(RESOURCE_DIRECTORY)
        found = {}
        if not rva:
            return found

        def label(entry_name):
            if entry_name & 0x80000000:
                at = rva + (entry_name & 0x7FFFFFFF)
                length = struct.unpack("<H", self.bytes_at(at, 2))[0]
                return self.bytes_at(at + 2, 2 * length).decode("utf-16-le")
            return entry_name

        def walk(table, path):
            named, numbered = struct.unpack("<HH", self.bytes_at(table + 12, 4))
            for i in range(named + numbered):
                entry_name, target = struct.unpack("<II", self.bytes_at(table + 16 + 8 * i, 8))
                here = path + (label(entry_name),)
                if target & 0x80000000:
                    walk(rva + (target & 0x7FFFFFFF), here)
                else:
                    data_rva, data_size = struct.unpack("<II", self.bytes_at(rva + target, 8))
                    found[here] = self.bytes_at(data_rva, data_size)

        walk(rva, ())
        return found

    def resources_of_type(self, resource_type):
        return {key: value for key, value in self.resources().items() if key[0] == resource_type}

    def has_relocations(self):
        rva, size = self.directory(BASE_RELOCATION_DIRECTORY)
        return bool(rva and size) and not self.characteristics & RELOCS_STRIPPED

    def is_stripped(self):
        """No COFF symbols and no debugging sections. (The string table that
        holds long section names such as .eh_frame may stay.)"""
        return self.symbol_count == 0 and not any(
            s.name.startswith((".debug", ".zdebug", "/")) for s in self.sections)
