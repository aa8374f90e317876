"""Readers of the binary formats that check_resources.py looks into: .res files as windres writes
them, PE files (headers, resource directory, imports), DIALOGEX templates, string table blocks,
icon directories (an .ico file's or an icon group resource's), PNG and icon bitmap (DIB) images.

A resource is (type, name, language, bytes), a type or name being ("ord", n) or a text. A reader
raises ValueError (or struct.error, zlib.error, UnicodeDecodeError) on data it cannot read.
Standard library only.
"""
import struct
import zlib

ORDINAL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar",
                   0x85: "combobox"}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}     # channels per pixel of each colour type
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24


def find(entries, rtype, name=None):
    """The resources of a type (and of a name, ("ord", n) or a text)."""
    return [e for e in entries if e[0] == ("ord", rtype) and name in (None, e[1])]


def read_id(data, pos, ordinal=True):
    """sz_Or_Ord (without ordinal: a NUL-terminated UTF-16 text); returns (value, new pos)."""
    if ordinal and data[pos:pos + 2] == b"\xff\xff":
        return ("ord", struct.unpack_from("<H", data, pos + 2)[0]), pos + 4
    end = pos
    while data[end:end + 2] != b"\0\0":
        if end >= len(data):
            raise ValueError("unterminated text at %d" % pos)
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_res(data):
    """The resources of a .res file."""
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
    """id -> text of the RT_STRING resources: block n holds ids (n-1)*16 .. n*16-1 as counted
    UTF-16 texts."""
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
    if (ver, sig) != (1, 0xFFFF):
        raise ValueError("not a DIALOGEX template")
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
        _, cex, cstyle, x_, y_, cx_, cy_, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        ccls, pos = read_id(data, pos + 24)
        text, pos = read_id(data, pos)
        pos += 2 + struct.unpack_from("<H", data, pos)[0]     # creation data
        if isinstance(ccls, tuple):
            ccls = ORDINAL_CLASSES.get(ccls[1], "ordinal %d" % ccls[1])
        dlg["controls"].append((cid, ccls.lower(), cstyle, (x_, y_, cx_, cy_), text, cex))
    return dlg


def icon_entries(data, stored=None):
    """The images an .ico file lists (16-byte entries ending in a file offset) or, given stored
    (RT_ICON id -> bytes), an icon group resource (14-byte entries ending in an RT_ICON id); the
    blob of an id not stored is None, a width or height of 0 means 256 px."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon directory header: %d %d" % (reserved, kind))
    ico, images = stored is None, []
    for i in range(count):
        w, h, colours, _, planes, bits, length, at = struct.unpack_from(
            "<BBBBHHII" if ico else "<BBBBHHIH", data, 6 + (16 if ico else 14) * i)
        if ico and (at + length > len(data) or at < 6 + 16 * count):
            raise ValueError("entry %d points outside the file" % i)
        images.append({"w": w or 256, "h": h or 256, "colours": colours, "planes": planes, "bits": bits,
                       "length": length, "at": at, "blob": data[at:at + length] if ico else stored.get(at)})
    spans = sorted((e["at"], e["at"] + e["length"]) for e in images)
    if ico and any(a[1] > b[0] for a, b in zip(spans, spans[1:])):
        raise ValueError("images overlap")
    return images


def png_header(blob):
    """The IHDR chunk, which must come first: (width, height, bits per pixel, bit depth,
    colour type, interlace)."""
    if blob[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    length, tag, w, h, depth, ctype, _, _, interlace = struct.unpack_from(">I4sIIBBBBB", blob, 8)
    if tag != b"IHDR" or length != 13:
        raise ValueError("the first chunk is not a 13-byte IHDR")
    if ctype not in PNG_CHANNELS:
        raise ValueError("colour type %d" % ctype)
    return w, h, depth * PNG_CHANNELS[ctype], depth, ctype, interlace


def parse_png(blob):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA PNG; every chunk's CRC checked."""
    w, h, _, depth, ctype, interlace = png_header(blob)
    if (depth, ctype, interlace) != (8, 6, 0):
        raise ValueError("not 8-bit RGBA without interlace: depth %d, colour type %d, interlace %d"
                         % (depth, ctype, interlace))
    pos, idat, n = 8, b"", 4 * w + 1                      # n: a row's bytes after its filter type
    while pos < len(blob):
        length, tag = struct.unpack_from(">I4s", blob, pos)
        if zlib.crc32(blob[pos + 4:pos + 8 + length]) != struct.unpack_from(">I", blob, pos + 8 + length)[0]:
            raise ValueError("bad CRC in %r chunk" % tag)
        idat += blob[pos + 8:pos + 8 + length] if tag == b"IDAT" else b""
        pos = len(blob) if tag == b"IEND" else pos + 12 + length
    raw = zlib.decompress(idat)
    if len(raw) != h * n:
        raise ValueError("IDAT holds %d bytes, expected %d" % (len(raw), h * n))
    rows, prev = [], bytearray(n + 3)       # a row after 4 zero bytes: the pixel left of its first
    for y in range(h):
        ftype, line = raw[y * n], bytearray(4) + raw[y * n + 1:(y + 1) * n]
        if ftype > 4:
            raise ValueError("bad filter type %d" % ftype)
        for x in range(4, len(line) if ftype else 4):
            a, b, c = line[x - 4], prev[x], prev[x - 4]
            # Paeth: of a, b and c (ties in that order) the nearest to a + b - c.
            paeth = min((abs(b - c), 0, a), (abs(a - c), 1, b), (abs(a + b - 2 * c), 2, c))[2]
            line[x] = (line[x] + (0, a, b, (a + b) // 2, paeth)[ftype]) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(4, len(line), 4)])
        prev = line
    return w, h, rows


def parse_dib(blob, size, depth):
    """Checks an icon bitmap; returns (rows of pixels, rows of the AND mask). A pixel is
    (r, g, b, alpha) in a 32-bit image, (r, g, b) from the palette otherwise."""
    hsize, w, h, planes, bits, comp, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", blob)
    ncol = (used or (1 << bits)) if bits <= 8 else 0
    stride, mstride, off = ((size * bits + 31) // 32) * 4, ((size + 31) // 32) * 4, 40 + 4 * ncol
    for bad, why in [(hsize != 40, "header size %d" % hsize),
                     ((w, h) != (size, 2 * size),
                      "header says %dx%d, expected %dx%d" % (w, h, size, 2 * size)),
                     (planes != 1 or bits != depth or comp != 0 or bits not in (1, 2, 4, 8, 32),
                      "planes %d bits %d compression %d" % (planes, bits, comp)),
                     (bits <= 8 and ncol > (1 << bits), "%d palette entries for %d bits" % (ncol, bits)),
                     (len(blob) != off + (stride + mstride) * size,
                      "image holds %d bytes, expected %d" % (len(blob), off + (stride + mstride) * size))]:
        if bad:
            raise ValueError(why)
    pal = [(blob[42 + 4 * i], blob[41 + 4 * i], blob[40 + 4 * i]) for i in range(ncol)]  # BGRx
    pixels, mask, per = [], [], max(8 // bits, 1)
    for y in range(size):
        row = off + (size - 1 - y) * stride                       # rows are stored bottom-up
        mrow = off + stride * size + (size - 1 - y) * mstride
        mask.append([(blob[mrow + x // 8] >> (7 - x % 8)) & 1 for x in range(size)])
        if bits == 32:
            pixels.append([(blob[p + 2], blob[p + 1], blob[p], blob[p + 3])     # BGRA
                           for p in range(row, row + 4 * size, 4)])
            continue
        idx = [(blob[row + x // per] >> (8 - bits * (x % per + 1))) & ((1 << bits) - 1) for x in range(size)]
        if max(idx) >= ncol:
            raise ValueError("pixel uses palette entry %d of %d" % (max(idx), ncol))
        pixels.append([pal[i] for i in idx])
    return pixels, mask


class PE:
    """Headers, resources and imports of a PE file."""

    def __init__(self, data):
        pe, = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.data, opt = data, pe + 24
        self.machine, nsections, _, _, _, optsize = struct.unpack_from("<HHIIIH", data, pe + 4)
        self.magic, = struct.unpack_from("<H", data, opt)
        if self.magic not in (0x10B, 0x20B):
            raise ValueError("optional header magic 0x%X" % self.magic)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        dirs = opt + (96 if self.magic == 0x10B else 112)
        ndirs, = struct.unpack_from("<I", data, dirs - 4)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) if i < ndirs else (0, 0)
                     for i in range(16)]
        self.sections = [struct.unpack_from("<IIII", data, opt + optsize + 40 * i + 8)
                         for i in range(nsections)]

    def at(self, rva, length=None):
        """The bytes at an RVA; without a length, up to the end of its section's file data."""
        for vsize, va, rawsize, raw in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                end = raw + (rawsize if length is None else rva - va + length)
                if end > raw + rawsize or end > len(self.data):
                    raise ValueError("RVA 0x%x+%s lies beyond the file data" % (rva, length))
                return self.data[raw + rva - va:end]
        raise ValueError("RVA 0x%x is in no section" % rva)

    def unpack(self, fmt, rva):
        return struct.unpack(fmt, self.at(rva, struct.calcsize(fmt)))

    def resources(self, offset=0, path=()):
        """The resources, as parse_res gives them, below the directory at offset: the type
        directory holds name directories, which hold language directories of leaves."""
        base, out = self.dirs[2][0], []
        if base == 0:
            raise ValueError("no resource directory")
        named, ids = self.unpack("<HH", base + offset + 12)
        for k in range(named + ids):
            name, target = self.unpack("<II", base + offset + 16 + 8 * k)
            if name & 0x80000000:
                n, = self.unpack("<H", base + (name & 0x7FFFFFFF))
                name = self.at(base + (name & 0x7FFFFFFF) + 2, 2 * n).decode("utf-16-le")
            key = path + (name if isinstance(name, str) else ("ord", name),)
            if (target >> 31) != (len(key) < 3):
                raise ValueError("%s at directory level %d"
                                 % ("a leaf" if len(key) < 3 else "a directory", len(key)))
            if len(key) < 3:
                out += self.resources(target & 0x7FFFFFFF, key)
            else:
                out.append((key[0], key[1], key[2][1], self.at(*self.unpack("<II", base + target))))
        return out

    def imports(self):
        """Sorted "DLL!Function" ("DLL!#ordinal" for an import by ordinal)."""
        fmt, by_ordinal = ("<Q", 1 << 63) if self.magic == 0x20B else ("<I", 1 << 31)
        out, desc = [], self.dirs[1][0]
        while desc and self.unpack("<5I", desc)[3]:
            lookup, _, _, name, iat = self.unpack("<5I", desc)
            dll, thunk = self.at(name).split(b"\0")[0].decode("ascii"), lookup or iat
            while self.unpack(fmt, thunk)[0]:
                value, = self.unpack(fmt, thunk)
                out.append("%s!%s" % (dll, "#%d" % (value & 0xFFFF) if value & by_ordinal else
                                      self.at((value & 0x7FFFFFFF) + 2).split(b"\0")[0].decode("ascii")))
                thunk += struct.calcsize(fmt)
            desc += 20
        return sorted(out)
