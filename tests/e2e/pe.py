"""A small reader of PE32 and PE32+ headers for checking the stub's shape."""
import struct


class Section:
    def __init__(self, raw, offset):
        name, self.virtual_size, self.virtual_address, self.raw_size, self.raw_pointer = \
            struct.unpack_from("<8sIIII", raw, offset)
        self.header_offset = offset
        self.name = name.rstrip(b"\0").decode("latin-1")
        self.characteristics = struct.unpack_from("<I", raw, offset + 36)[0]


class PeImage:
    def __init__(self, data):
        self.data = data
        assert data[:2] == b"MZ"
        self.nt = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[self.nt:self.nt + 4] == b"PE\0\0"
        (self.machine, count, _, self.symbol_table, _, opt_size, self.characteristics) = \
            struct.unpack_from("<HHIIIHH", data, self.nt + 4)
        opt = self.nt + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.checksum = struct.unpack_from("<I", data, opt + 64)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        # PE32+ holds a 64-bit image base and stack sizes: its data
        # directories start 16 bytes further.
        directories = opt + (112 if self.magic == 0x20B else 96)
        dirs = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(dirs)]
        table = opt + opt_size
        self.sections = [Section(data, table + 40 * i) for i in range(count)]

    def section(self, name):
        for s in self.sections:
            if s.name == name:
                return s
        return None

    def offset_of(self, rva):
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                return rva - s.virtual_address + s.raw_pointer
        raise ValueError(hex(rva))

    def _cstring(self, rva):
        off = self.offset_of(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    @property
    def is_64bit(self):
        return self.magic == 0x20B

    def imports(self):
        rva, size = self.directories[1]
        names, off = [], self.offset_of(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, off)
            if entry == (0, 0, 0, 0, 0):
                return names
            names.append(self._cstring(entry[3]))
            off += 20

    def exports(self):
        rva, size = self.directories[0]
        if not rva:
            return []
        off = self.offset_of(rva)
        count, _, names_rva = struct.unpack_from("<III", self.data, off + 24)[0], None, \
            struct.unpack_from("<I", self.data, off + 32)[0]
        names_off = self.offset_of(names_rva)
        return [self._cstring(struct.unpack_from("<I", self.data, names_off + 4 * i)[0])
                for i in range(count)]

    def export_addresses(self):
        """{name: RVA} of every export named."""
        off = self.offset_of(self.directories[0][0])
        count, functions, names, ordinals = struct.unpack_from("<4I", self.data, off + 24)
        functions, names, ordinals = (self.offset_of(r) for r in (functions, names, ordinals))
        out = {}
        for i in range(count):
            name = self._cstring(struct.unpack_from("<I", self.data, names + 4 * i)[0])
            ordinal = struct.unpack_from("<H", self.data, ordinals + 2 * i)[0]
            out[name] = struct.unpack_from("<I", self.data, functions + 4 * ordinal)[0]
        return out

    def resources(self):
        """Every resource as {(type, name, language): bytes}; type and name
        are numbers or upper-case strings, as the resource directory has them."""
        rva, size = self.directories[2]
        if not rva:
            return {}
        base = self.offset_of(rva)

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for kind, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset_of(data_rva)
                    found[(kind, name, language)] = self.data[start:start + data_size]
        return found
