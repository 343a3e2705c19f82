#!/usr/bin/env python3
"""import_slots.py PROGRAM...: fails unless every import-address slot of each program is filled.

A regular slot must hold its entry's hint/name RVA or ordinal in the file (the loader binds it
from that); a delay-import slot must point into code, at the thunk that loads the DLL on the
first call. A zero or stray slot is a jump to nowhere on that call, on the one architecture
whose linker left it so. Missing files are skipped (the undertest wizard is optional).
"""
import struct
import sys

IMAGE_SCN_MEM_EXECUTE = 0x20000000


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections, optional_size = struct.unpack_from("<2xH12xH", self.data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        self.wide = magic == 0x20B
        if self.wide:
            self.base = struct.unpack_from("<Q", self.data, optional + 24)[0]
            directories = optional + 112
        else:
            self.base = struct.unpack_from("<I", self.data, optional + 28)[0]
            directories = optional + 96
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(16)]
        # (rva, size in memory, file offset, size in the file, flags) per section
        self.sections = []
        for i in range(sections):
            header = optional + optional_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from("<4I", self.data, header + 8)
            flags = struct.unpack_from("<I", self.data, header + 36)[0]
            self.sections.append((va, vsize or rsize, raw, rsize, flags))

    def section(self, rva):
        return next((s for s in self.sections if s[0] <= rva < s[0] + s[1]), None)

    def in_file(self, rva):
        section = self.section(rva)
        return section is not None and rva - section[0] < section[3]

    def offset(self, rva):
        if not self.in_file(rva):
            raise ValueError(f"RVA {rva:#x} lies in no section's data")
        section = self.section(rva)
        return section[2] + rva - section[0]

    def slot(self, rva):
        return struct.unpack_from("<Q" if self.wide else "<I", self.data, self.offset(rva))[0]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def entry_name(self, value):
        ordinal_flag = 1 << (63 if self.wide else 31)
        return f"ordinal {value & 0xFFFF}" if value & ordinal_flag else self.text(value + 2)

    def entries(self, names_rva, slots_rva):
        """(name, slot rva, slot value) for each entry up to the name table's terminator."""
        size = 8 if self.wide else 4
        i = 0
        while (name := self.slot(names_rva + i * size)) != 0:
            yield self.entry_name(name), slots_rva + i * size, self.slot(slots_rva + i * size)
            i += 1


def delay_descriptors(image):
    """(DLL name, slots, names) as RVAs for each delay-import descriptor.

    GNU ld leaves the delay-import directory empty for dlltool's delay libraries, so their
    descriptors are found by their shape: RVA form, names and tables inside the image, a name
    that ends in .dll.
    """
    found = {}
    rva = image.directories[13][0]
    while rva and any(fields := struct.unpack_from("<8I", image.data, image.offset(rva))):
        # Without the RVA attribute the descriptor's fields are addresses.
        shift = 0 if fields[0] & 1 else image.base
        found[rva] = tuple(field - shift for field in (fields[1], fields[3], fields[4]))
        rva += 32
    for va, size, raw, raw_size, _ in image.sections:
        for offset in range(raw, raw + min(size, raw_size) - 31, 4):
            fields = struct.unpack_from("<8I", image.data, offset)
            name, handle, slots, names = fields[1:5]
            if (fields[0] != 1 or any(fields[5:]) or not image.section(handle) or
                    not all(map(image.in_file, (name, slots, names)))):
                continue
            if image.text(name).lower().endswith(".dll"):
                found.setdefault(va + offset - raw, (name, slots, names))
    return found.values()


def check(path):
    image = Image(path)
    bad = []
    count = 0
    rva = image.directories[1][0]
    while rva and any(struct.unpack_from("<5I", image.data, image.offset(rva))):
        names, _, _, dll, slots = struct.unpack_from("<5I", image.data, image.offset(rva))
        for name, slot, value in image.entries(names or slots, slots):
            count += 1
            if value == 0:
                bad.append(f"{image.text(dll)} {name}: slot at RVA {slot:#x} holds 0")
        rva += 20
    for dll, slots, names in delay_descriptors(image):
        for name, slot, value in image.entries(names, slots):
            count += 1
            target = image.section(value - image.base) if value else None
            if not target or not target[4] & IMAGE_SCN_MEM_EXECUTE:
                bad.append(f"{image.text(dll)} {name}: delay slot at RVA {slot:#x} holds "
                           f"{value:#x}, which is no code")
    return count, bad


def main(paths):
    failed = False
    for path in paths:
        try:
            count, bad = check(path)
        except FileNotFoundError:
            print(f"{path}: missing, skipped")
            continue
        except (ValueError, struct.error) as error:
            print(f"{path}: unreadable ({error})")
            failed = True
            continue
        print(f"{path}: {count} import slots, " + (f"{len(bad)} bad" if bad else "all filled"))
        for reason in bad:
            print(f"  {reason}")
        failed = failed or bool(bad)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
