#!/usr/bin/env python3
"""Rewrites widl's Tarvex4 type library into the one hosts compile against.

    typelib_fixup.py IN.tlb OUT.tlb

widl numbers type infos in the order the IDL first mentions them, rejects
`nonextensible` and `version()` on a dispinterface, and cannot be told
otherwise.  Hosts bind by index, by flags and by version, so this script puts
the type infos in the order of TYPES and gives each the flags and version
listed there.  It works on widl's MSFT output for Win32 and Win64 alike.

Moving a type info means moving its 0x64-byte record and rewriting every
reference to it: references inside the library are byte offsets into the
type info table ("hreftypes", multiples of 0x64), found in the implemented
types table, the type descriptor table (VT_USERDEFINED), the records'
base-interface field, the GUID and name tables, the offsets list after the
header and the index kept in each record's kind field.  Imported references
(IDispatch and IUnknown from stdole2) have low bits set and stay as they are.
The member data blocks after the tables are laid out again in the new order,
as a writer emitting the types in that order would have placed them.

Anything unexpected (other types, other kinds, flags or versions that differ
from TYPES by more than what widl cannot write, a layout this script does not
know) stops it with a message and exit status 1, so that a change to the IDL
cannot slip through unnoticed.
"""

import struct
import sys

TKIND_ENUM, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS = 0, 3, 4, 5

FHIDDEN = 0x10
FCONTROL = 0x20
FDUAL = 0x40
FNONEXTENSIBLE = 0x80
FOLEAUTOMATION = 0x100
FDISPATCHABLE = 0x1000
FCANCREATE = 0x2

DUAL = FHIDDEN | FDUAL | FNONEXTENSIBLE | FOLEAUTOMATION | FDISPATCHABLE  # 0x11D0

# The library's types in their required order, with the flags and version
# (major, minor) each must carry.  Flags are as stored in the file; Wine's
# GetTypeAttr leaves FOLEAUTOMATION out of what it reports for any
# TKIND_DISPATCH, so a dual shows 0x10D0 on its dispatch half there and
# 0x11D0 on its interface half.
TYPES = [
    ("_Tarvex", TKIND_DISPATCH, DUAL, (1, 0)),
    ("Tarvex", TKIND_COCLASS, FCONTROL, (1, 0)),
    ("_SMSDeliver", TKIND_DISPATCH, DUAL, (1, 0)),
    ("SMSDeliver", TKIND_COCLASS, FCANCREATE, (1, 0)),
    ("_TRegistry", TKIND_DISPATCH, DUAL, (1, 0)),
    ("TRegistry", TKIND_COCLASS, 0, (1, 0)),
    ("__Tarvex", TKIND_DISPATCH, FHIDDEN | FNONEXTENSIBLE | FDISPATCHABLE, (1, 0)),
    ("enumInbox", TKIND_ENUM, 0, (1, 0)),
    ("THKey", TKIND_ENUM, 0, (1, 0)),
    ("_Collection", TKIND_DISPATCH, DUAL, (1, 0)),
    ("Collection", TKIND_COCLASS, FHIDDEN, (1, 0)),
]

# What widl cannot write and this script may therefore add.  Any other
# difference between widl's output and TYPES is an IDL change to look at.
ADDABLE_FLAGS = FNONEXTENSIBLE | FOLEAUTOMATION
# A version widl could not write reads 0.0.
UNSET_VERSION = (0, 0)

HEADER = struct.Struct("<21i")  # MSFT_Header, 0x54 bytes
SEGMENT = struct.Struct("<4i")  # offset, length, two reserved words
RECORD_SIZE = 0x64  # one type info record: 25 little-endian ints
SEGMENTS = ("typeinfo", "impinfo", "impfiles", "reftab", "guidhash", "guid", "namehash",
            "name", "string", "typedesc", "arraydesc", "custdata", "cdguid", "res0e", "res0f")
VT_USERDEFINED = 0x1D
HELPDLL_FLAG = 0x100

# Field offsets inside a type info record.
R_KIND, R_MEMOFFSET, R_CELEMENT, R_POSGUID, R_FLAGS, R_NAME, R_VERSION, R_DATATYPE1 = (
    0x00, 0x04, 0x18, 0x2C, 0x30, 0x34, 0x38, 0x54)
# Header fields.
H_VARFLAGS, H_NRTYPEINFOS, H_DISPATCHPOS = 5, 8, 19


class FixupError(Exception):
    pass


def i32(data, offset):
    return struct.unpack_from("<i", data, offset)[0]


def put_i32(data, offset, value):
    struct.pack_into("<i", data, offset, value)


class Library:
    """The parts of an MSFT file this script reads and rewrites."""

    def __init__(self, data):
        self.data = bytearray(data)
        if len(data) < HEADER.size or data[:4] != b"MSFT":
            raise FixupError("not an MSFT type library")
        header = HEADER.unpack_from(data, 0)
        self.count = header[H_NRTYPEINFOS]
        self.offsets_at = HEADER.size + (4 if header[H_VARFLAGS] & HELPDLL_FLAG else 0)
        segdir_at = self.offsets_at + 4 * self.count
        self.seg = {}
        for n, name in enumerate(SEGMENTS):
            offset, length, _, _ = SEGMENT.unpack_from(data, segdir_at + n * SEGMENT.size)
            self.seg[name] = (offset, length)
            if offset >= 0 and offset + length > len(data):
                raise FixupError("segment %s runs past the end of the file" % name)
        self.tables_end = segdir_at + len(SEGMENTS) * SEGMENT.size
        for offset, length in self.seg.values():
            if offset >= 0:
                self.tables_end = max(self.tables_end, offset + length)
        if self.seg["typeinfo"][1] != self.count * RECORD_SIZE:
            raise FixupError("the type info table does not hold %d records" % self.count)

    def entries(self, segment, size):
        offset, length = self.seg[segment]
        return range(offset, offset + length, size) if offset >= 0 else range(0)

    def record(self, index):
        return self.seg["typeinfo"][0] + index * RECORD_SIZE

    def field(self, index, at):
        return i32(self.data, self.record(index) + at)

    def name_at(self, name_offset):
        base = self.seg["name"][0] + name_offset
        length = self.data[base + 8]
        return self.data[base + 12:base + 12 + length].decode("latin-1")

    def type_name(self, index):
        return self.name_at(self.field(index, R_NAME))

    def kind(self, index):
        return self.field(index, R_KIND) & 0xF

    def version(self, index):
        v = self.field(index, R_VERSION)
        return (v & 0xFFFF, (v >> 16) & 0xFFFF)

    def name_entries(self):
        base, length = self.seg["name"]
        at = 0
        while at < length:
            yield base + at
            at += 12 + ((self.data[base + at + 8] + 3) & ~3)

    def member_block(self, index):
        """(start, length) of a type info's member data, or None without members."""
        celement = self.field(index, R_CELEMENT)
        members = (celement & 0xFFFF) + ((celement >> 16) & 0xFFFF)
        if not members:
            return None
        start = self.field(index, R_MEMOFFSET)
        # The block: its length, the records, then memids, names and offsets
        # of each member.
        return start, 4 + i32(self.data, start) + 12 * members

    def local_href(self, href, where):
        """The index an hreftype refers to, or None when it is not a local one."""
        if href < 0 or href & 3:
            return None
        if href % RECORD_SIZE or href // RECORD_SIZE >= self.count:
            raise FixupError("%s holds 0x%x, which is no type info" % (where, href))
        return href // RECORD_SIZE

    def href_fields(self):
        """Every place holding an hreftype: (file offset, description)."""
        for i in range(self.count):
            if self.kind(i) in (TKIND_INTERFACE, TKIND_DISPATCH):
                yield self.record(i) + R_DATATYPE1, "the base of " + self.type_name(i)
        for at in self.entries("reftab", 16):
            yield at, "implemented type 0x%x" % (at - self.seg["reftab"][0])
        for at in self.entries("typedesc", 8):
            if struct.unpack_from("<H", self.data, at)[0] == VT_USERDEFINED:
                yield at + 4, "type descriptor 0x%x" % (at - self.seg["typedesc"][0])
        for at in self.entries("guid", 24):
            yield at + 16, "the GUID entry " + self.data[at:at + 16].hex()
        for at in self.name_entries():
            yield at, "the name entry of " + self.name_at(at - self.seg["name"][0])
        yield 4 * H_DISPATCHPOS, "the header's IDispatch reference"

    def meaning(self):
        """Where each reference leads, by type name: equal before and after."""
        out = []
        for at, where in self.href_fields():
            index = self.local_href(i32(self.data, at), where)
            out.append((where, i32(self.data, at) if index is None else self.type_name(index)))
        return sorted(out)


def plan(lib):
    """The old index of each type in the required order; checks the input."""
    names = [lib.type_name(i) for i in range(lib.count)]
    wanted = [t[0] for t in TYPES]
    if sorted(names) != sorted(wanted):
        missing = sorted(set(wanted) - set(names))
        extra = sorted(set(names) - set(wanted))
        raise FixupError("the library's types are not those of TYPES (missing: %s; "
                         "not expected: %s; widl wrote: %s)" %
                         (", ".join(missing) or "none", ", ".join(extra) or "none",
                          ", ".join(names)))
    order = [names.index(n) for n in wanted]
    for old, (name, kind, flags, version) in zip(order, TYPES):
        if lib.kind(old) != kind:
            raise FixupError("%s is of kind %d, TYPES says %d" % (name, lib.kind(old), kind))
        have = lib.field(old, R_FLAGS) & 0xFFFF
        if have & ~flags or (flags & ~have) & ~ADDABLE_FLAGS:
            raise FixupError("%s: widl wrote flags 0x%x, TYPES says 0x%x; only 0x%x may be "
                             "added here" % (name, have, flags, ADDABLE_FLAGS))
        if lib.version(old) not in (version, UNSET_VERSION):
            raise FixupError("%s: widl wrote version %d.%d, TYPES says %d.%d" %
                             ((name,) + lib.version(old) + version))
        if lib.field(old, R_KIND) >> 16 != old:
            raise FixupError("%s: its record does not carry its own index" % name)
        if i32(lib.data, lib.offsets_at + 4 * old) != old * RECORD_SIZE:
            raise FixupError("the offsets list after the header is not the plain one")
    return order


def relayout_members(lib, order, out):
    """Appends the member blocks in the new order; returns each one's new start."""
    blocks = {i: lib.member_block(i) for i in range(lib.count)}
    spans = sorted(b for b in blocks.values() if b)
    at = lib.tables_end
    for start, length in spans:
        if start != at:
            raise FixupError("member data is not laid out block after block")
        at += length
    if at != len(lib.data):
        raise FixupError("%d bytes after the member data" % (len(lib.data) - at))
    starts = {}
    for old in order:
        starts[old] = len(out)
        if blocks[old]:
            start, length = blocks[old]
            out += lib.data[start:start + length]
    return starts


def fix(data):
    lib = Library(data)
    order = plan(lib)
    new_index = {old: new for new, old in enumerate(order)}

    out = bytearray(lib.data[:lib.tables_end])
    for at, where in lib.href_fields():
        index = lib.local_href(i32(lib.data, at), where)
        if index is not None:
            put_i32(out, at, new_index[index] * RECORD_SIZE)

    starts = relayout_members(lib, order, out)
    table = lib.seg["typeinfo"][0]
    records = bytearray()
    for new, old in enumerate(order):
        record = bytearray(out[table + old * RECORD_SIZE:table + (old + 1) * RECORD_SIZE])
        _, _, flags, (major, minor) = TYPES[new]
        put_i32(record, R_KIND, (i32(record, R_KIND) & 0xFFFF) | (new << 16))
        put_i32(record, R_MEMOFFSET, starts[old])
        put_i32(record, R_FLAGS, (i32(record, R_FLAGS) & ~0xFFFF) | flags)
        put_i32(record, R_VERSION, major | (minor << 16))
        records += record
    out[table:table + len(records)] = records
    for new in range(lib.count):
        put_i32(out, lib.offsets_at + 4 * new, new * RECORD_SIZE)

    check(lib, Library(bytes(out)))
    return bytes(out)


def check(before, after):
    """Reads the result back: the order, and every reference leading where it did."""
    names = [after.type_name(i) for i in range(after.count)]
    if names != [t[0] for t in TYPES]:
        raise FixupError("internal: the result lists %s" % ", ".join(names))
    for i in range(after.count):
        here = i * RECORD_SIZE
        guid_entry = after.seg["guid"][0] + after.field(i, R_POSGUID)
        name_entry = after.seg["name"][0] + after.field(i, R_NAME)
        if i32(after.data, guid_entry + 16) != here or i32(after.data, name_entry) != here:
            raise FixupError("internal: %s's GUID or name entry points elsewhere" % names[i])
        block = after.member_block(i)
        if block and before.member_block(before_index(before, names[i]))[1] != block[1]:
            raise FixupError("internal: %s's member data moved badly" % names[i])
    if before.meaning() != after.meaning():
        raise FixupError("internal: a reference leads to another type than before")


def before_index(lib, name):
    return [lib.type_name(i) for i in range(lib.count)].index(name)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: typelib_fixup.py IN.tlb OUT.tlb\n")
        return 2
    try:
        with open(argv[1], "rb") as f:
            fixed = fix(f.read())
    except (FixupError, OSError, struct.error, IndexError) as e:
        sys.stderr.write("typelib_fixup.py: %s: %s\n" % (argv[1], e))
        return 1
    with open(argv[2], "wb") as f:
        f.write(fixed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
