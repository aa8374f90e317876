"""Readers of .res and PE files, DIALOGEX templates, string tables, icons, PNG and bitmap (DIB) images: a
resource is (type, name, language, bytes), a type or name ("ord", n) or a text; bad data raises ERRORS."""
import struct
import zlib

ERRORS = (ValueError, struct.error, zlib.error)     # a UnicodeDecodeError is a ValueError
ORDINAL_CLASSES = dict(enumerate(("button", "edit", "static", "listbox", "scrollbar", "combobox"), 0x80))
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}     # channels per pixel of each colour type
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24


def need(ok, why):
    if not ok:
        raise ValueError(why)


def find(entries, rtype, name=None):
    """The resources of a type (and of a name, ("ord", n) or a text)."""
    return [e for e in entries if e[0] == ("ord", rtype) and name in (None, e[1])]


def read_id(data, pos, ordinal=True):
    """sz_Or_Ord (without ordinal: a NUL-terminated UTF-16 text); returns (value, new pos)."""
    if ordinal and data[pos:pos + 2] == b"\xff\xff":
        return ("ord", struct.unpack_from("<H", data, pos + 2)[0]), pos + 4
    end = next((i for i in range(pos, len(data) - 1, 2) if data[i:i + 2] == b"\0\0"), None)
    need(end is not None, "unterminated text at %d" % pos)
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_res(data):
    """The resources of a .res file: 4-aligned entries of a header and data."""
    entries, pos = [], 0
    while pos < len(data):
        dsize, hsize = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        if (rtype, dsize) != (("ord", 0), 0):               # the empty entry a .res starts with
            lang, = struct.unpack_from("<H", data, ((p + 3) & ~3) + 6)
            entries.append((rtype, name, lang, data[pos + hsize:pos + hsize + dsize]))
        pos = (pos + hsize + dsize + 3) & ~3
    return entries


def string_table(entries):
    """id -> text of the RT_STRING resources: block n holds ids (n-1)*16 .. n*16-1, counted UTF-16."""
    strings = {}
    for _, name, _, body in find(entries, RT_STRING):
        pos = 0
        for i in range(16):
            n, = struct.unpack_from("<H", body, pos)
            if n:
                strings[(name[1] - 1) * 16 + i] = body[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
            pos += 2 + 2 * n
    return strings


def parse_dialogex(data):
    """A DIALOGEX template as a dict; a control is (id, class, style, (x, y, cx, cy), text, exstyle)."""
    ver, sig, _, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data)
    need((ver, sig) == (1, 0xFFFF), "not a DIALOGEX template")
    menu, pos = read_id(data, 26)
    cls, pos = read_id(data, pos)
    caption, pos = read_id(data, pos, False)
    dlg = {"rect": (x, y, cx, cy), "style": style, "exstyle": exstyle, "menu": menu, "class": cls,
           "caption": caption, "font": (None, None, None, None), "controls": []}
    if style & 0x40:                              # DS_SETFONT
        size, weight, italic = struct.unpack_from("<HHB", data, pos)
        face, pos = read_id(data, pos + 6, False)
        dlg["font"] = (size, face, weight, italic)
    for _ in range(count):
        pos = (pos + 3) & ~3
        _, cex, cstyle, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        ccls, pos = read_id(data, pos + 24)
        text, pos = read_id(data, pos)
        pos += 2 + struct.unpack_from("<H", data, pos)[0]     # creation data
        ccls = ORDINAL_CLASSES.get(ccls[1], "ordinal %d" % ccls[1]) if isinstance(ccls, tuple) else ccls
        dlg["controls"].append((cid, ccls.lower(), cstyle, (x, y, cx, cy), text, cex))
    return dlg


def icon_entries(data, stored=None):
    """The images an .ico file lists (16-byte entries ending in a file offset) or, given stored (RT_ICON
    id -> bytes), an icon group's (14-byte entries ending in an id; blob None if not stored)."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    need((reserved, kind) == (0, 1), "not an icon directory header: %d %d" % (reserved, kind))
    ico, images = stored is None, []
    for i in range(count):
        w, h, colours, _, planes, bits, length, at = struct.unpack_from(
            "<BBBBHHII" if ico else "<BBBBHHIH", data, 6 + (16 if ico else 14) * i)
        need(not ico or 6 + 16 * count <= at <= len(data) - length, "entry %d points outside the file" % i)
        images.append({"w": w or 256, "h": h or 256, "colours": colours, "planes": planes, "bits": bits,
                       "length": length, "at": at, "blob": data[at:at + length] if ico else stored.get(at)})
    spans = sorted((e["at"], e["at"] + e["length"]) for e in images)
    need(not ico or all(a[1] <= b[0] for a, b in zip(spans, spans[1:])), "images overlap")
    return images


def parse_png(blob, header_only=False):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA PNG, every chunk's CRC checked; with
    header_only, its first chunk, IHDR: (width, height, bits per pixel, depth, colour type, interlace)."""
    need(blob[:8] == PNG_SIGNATURE, "no PNG signature")
    length, tag, w, h, depth, ctype, _, _, interlace = struct.unpack_from(">I4sIIBBBBB", blob, 8)
    need(tag == b"IHDR" and length == 13, "the first chunk is not a 13-byte IHDR")
    need(ctype in PNG_CHANNELS, "colour type %d" % ctype)
    if header_only:
        return w, h, depth * PNG_CHANNELS[ctype], depth, ctype, interlace
    need((depth, ctype, interlace) == (8, 6, 0), "depth %d, colour type %d, interlace %d: not 8-bit RGBA"
         % (depth, ctype, interlace))
    pos, idat, n = 8, b"", 4 * w + 1                      # n: a row's bytes after its filter type
    while pos < len(blob):
        length, tag = struct.unpack_from(">I4s", blob, pos)
        crc, = struct.unpack_from(">I", blob, pos + 8 + length)
        need(zlib.crc32(blob[pos + 4:pos + 8 + length]) == crc, "bad CRC in %r chunk" % tag)
        idat += blob[pos + 8:pos + 8 + length] if tag == b"IDAT" else b""
        pos = len(blob) if tag == b"IEND" else pos + 12 + length
    raw = zlib.decompress(idat)
    need(len(raw) == h * n, "IDAT holds %d bytes, expected %d" % (len(raw), h * n))
    rows, prev = [], bytearray(n + 3)       # a row after 4 zero bytes: the pixel left of its first
    for y in range(h):
        ftype, line = raw[y * n], bytearray(4) + raw[y * n + 1:(y + 1) * n]
        need(ftype <= 4, "bad filter type %d" % ftype)
        for x in range(4, len(line) if ftype else 4):
            a, b, c = line[x - 4], prev[x], prev[x - 4]
            # Paeth: of a, b and c (ties in that order) the nearest to a + b - c.
            paeth = min((abs(b - c), 0, a), (abs(a - c), 1, b), (abs(a + b - 2 * c), 2, c))[2]
            line[x] = (line[x] + (0, a, b, (a + b) // 2, paeth)[ftype]) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(4, len(line), 4)])
        prev = line
    return w, h, rows


def parse_dib(blob, size, depth):
    """Rows of pixels ((r, g, b, alpha) at 32 bits, else (r, g, b) from the palette) and of the AND mask."""
    def values(at, n):                      # a row of n-bit values, the first in the high bits
        return [(blob[at + x * n // 8] >> (8 - n - x * n % 8)) & ((1 << n) - 1) for x in range(size)]
    hsize, w, h, planes, bits, comp, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", blob)
    ncol = (used or (1 << bits)) if bits <= 8 else 0
    stride, mstride, off = ((size * bits + 31) // 32) * 4, ((size + 31) // 32) * 4, 40 + 4 * ncol
    need(hsize == 40, "header size %d" % hsize)
    need((w, h) == (size, 2 * size), "header says %dx%d, expected %dx%d" % (w, h, size, 2 * size))
    need(planes == 1 and bits == depth and comp == 0 and bits in (1, 2, 4, 8, 32),
         "planes %d bits %d compression %d" % (planes, bits, comp))
    need(bits > 8 or ncol <= (1 << bits), "%d palette entries for %d bits" % (ncol, bits))
    need(len(blob) == off + (stride + mstride) * size,
         "image holds %d bytes, expected %d" % (len(blob), off + (stride + mstride) * size))
    pal = [(blob[42 + 4 * i], blob[41 + 4 * i], blob[40 + 4 * i]) for i in range(ncol)]  # BGRx
    rows = range(size - 1, -1, -1)          # stored bottom-up
    mask = [values(off + stride * size + y * mstride, 1) for y in rows]
    if bits != 32:
        idx = [values(off + y * stride, bits) for y in rows]
        need(max(map(max, idx)) < ncol, "pixel uses palette entry %d of %d" % (max(map(max, idx)), ncol))
        return [[pal[i] for i in row] for row in idx], mask
    return [[tuple(blob[p + i] for i in (2, 1, 0, 3))                         # BGRA
             for p in range(off + y * stride, off + (y + 1) * stride, 4)] for y in rows], mask


class PE:
    """Headers, resources and imports of a PE file."""

    def __init__(self, data):
        pe, = struct.unpack_from("<I", data, 0x3C)
        need(data[pe:pe + 4] == b"PE\0\0", "no PE signature")
        self.data, opt = data, pe + 24
        self.machine, count, _, _, _, optsize = struct.unpack_from("<HHIIIH", data, pe + 4)
        self.magic, = struct.unpack_from("<H", data, opt)
        need(self.magic in (0x10B, 0x20B), "optional header magic 0x%X" % self.magic)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        dirs = opt + (96 if self.magic == 0x10B else 112)
        ndirs, = struct.unpack_from("<I", data, dirs - 4)       # then (RVA, size) of each directory
        self.imports_at, self.resources_at = (struct.unpack_from("<I", data, dirs + 8 * i)[0] if i < ndirs
                                              else 0 for i in (1, 2))
        self.sections = [struct.unpack_from("<IIII", data, opt + optsize + 40 * i + 8) for i in range(count)]

    def at(self, rva, length=None):
        """The bytes at an RVA; without a length, up to the end of its section's file data."""
        for vsize, va, size, raw in self.sections:
            if va <= rva < va + max(vsize, size):
                end = raw + (size if length is None else rva - va + length)
                need(end <= min(raw + size, len(self.data)), "RVA 0x%x+%s lies beyond the file data"
                     % (rva, length))
                return self.data[raw + rva - va:end]
        raise ValueError("RVA 0x%x is in no section" % rva)

    def unpack(self, fmt, rva):
        return struct.unpack(fmt, self.at(rva, struct.calcsize(fmt)))

    def resources(self):
        """The resources as parse_res gives them: directories of types, names, languages, then leaves."""
        def directory(offset, level):
            named, ids = self.unpack("<HH", base + offset + 12)
            for k in range(named + ids):
                name, target = self.unpack("<II", base + offset + 16 + 8 * k)
                need((target >> 31) == (level < 3), "%s at directory level %d"
                     % ("a leaf" if level < 3 else "a directory", level))
                if name & 0x80000000:
                    n, = self.unpack("<H", base + (name & 0x7FFFFFFF))
                    name = self.at(base + (name & 0x7FFFFFFF) + 2, 2 * n).decode("utf-16-le")
                yield name if isinstance(name, str) else ("ord", name), target & 0x7FFFFFFF
        base = self.resources_at
        need(base, "no resource directory")
        return [(rtype, name, lang[1], self.at(*self.unpack("<II", base + leaf)))
                for rtype, names in directory(0, 1) for name, langs in directory(names, 2)
                for lang, leaf in directory(langs, 3)]

    def imports(self):
        """Sorted "DLL!Function" ("DLL!#ordinal" for an import by ordinal)."""
        fmt, by_ordinal = ("<Q", 1 << 63) if self.magic == 0x20B else ("<I", 1 << 31)
        text = lambda rva: self.at(rva).split(b"\0")[0].decode("ascii")  # noqa: E731
        out, desc = [], self.imports_at
        while desc and self.unpack("<5I", desc)[3]:                   # up to a descriptor without a name
            lookup, _, _, name, iat = self.unpack("<5I", desc)
            thunk = lookup or iat
            while (value := self.unpack(fmt, thunk)[0]):
                out.append("%s!%s" % (text(name), "#%d" % (value & 0xFFFF) if value & by_ordinal
                                      else text((value & 0x7FFFFFFF) + 2)))
                thunk += struct.calcsize(fmt)
            desc += 20
        return sorted(out)
