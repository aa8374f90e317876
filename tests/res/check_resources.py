#!/usr/bin/env python3
"""Host-side checks of the setup's resources and linked executables (no Windows needed).

Without options: res/resource.h, res/setup.rc, the four res/lang_*.rc (string ids, inserts, the
texts of tests/expected_texts.py, both dialog templates), res/setup.manifest, the icon that
res/icon/make_icon.py draws (16 images, PNG or bitmap, headers, artwork, transparency), and,
with i686-w64-mingw32-windres, the .res compiled from setup.rc.
--exe PATH, the x86 setup.exe: the resources windres compiled, at most 100 KiB, machine 0x14C,
subsystem version 4.0, and the imports ("DLL!Function") listed in tests/res/imports-x86.txt,
so that every new import is a deliberate review (--write-imports PATH rewrites that list).
--x64 PATH, with --exe: machine 0x8664, PE32+, the same resources as the x86 file.

Usage: check_resources.py [--exe out/setup.exe [--x64 out/x64/setup.exe]]
       check_resources.py --write-imports out/setup.exe
Last line: "N passed, N failed[, N skipped]"; exit status 1 on failure.
"""
import collections
import functools
import os
import re
import runpy
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RES = os.path.join(ROOT, "res")
IMPORTS = os.path.join(ROOT, "tests", "res", "imports-x86.txt")
sys.path.insert(0, os.path.join(ROOT, "tests"))
import harness  # noqa: E402
from expected_texts import DIALOG_TEXTS, KNOWN, LANGS, STRING_IDS  # noqa: E402


def table(text):
    """"NAME=VALUE ..." as a dict."""
    return {k: int(v, 0) for k, v in (w.split("=") for w in text.split())}


HEADER_IDS = table("""
    IDD_PROGRESS=1101 IDD_LANGUAGE=129 IDI_SETUP=128 IDC_PROGRESS_ICON=101 IDC_PROGRESS_TITLE=103
    IDC_PROGRESS_BAR=104 IDC_PROGRESS_STATUS=105 IDC_LANGUAGE_LIST=1000 AFX_IDS_APP_TITLE=57344
    IDS_OUT_OF_MEMORY=12 IDS_PACKAGE_NOT_FOUND=13 IDS_MISSING_RESOURCE=15
    IDS_PLEASE_WAIT_DOWNLOAD=16 IDS_THE_PRODUCT=17 IDS_DOWNLOADING_PACKAGE=18
    IDS_VERIFYING_SIGNATURE=19 IDS_REQUIRES_PACKAGE=20 IDS_NO_SIGNATURE_SUPPORT=21
    IDS_NOT_TRUSTED=22 IDS_INVALID_PATH=23 IDS_CANCELLED=24 IDS_INVALID_MSI_VERSION=25
    IDS_ADMIN_REQUIRED=26 IDS_DOWNLOADING_INSTMSI=27 IDS_INSTMSI_NOT_FOUND=28 IDS_UPGRADE_FAILED=29
    IDS_RESTART_PROMPT=30 IDS_INVALID_INSTMSI=31 IDS_INSTALL_ERROR=32 IDS_UPGRADE_PROMPT=33
    IDS_INVALID_OPERATION=34 IDS_NO_PACKAGE_FOR_OS=36 IDS_USAGE=37""")

# Win32 constants that may appear in the style expressions of the scripts.
CONSTANTS = table("""
    WS_POPUP=0x80000000 WS_CHILD=0x40000000 WS_VISIBLE=0x10000000 WS_CAPTION=0x00C00000
    WS_BORDER=0x00800000 WS_DLGFRAME=0x00400000 WS_VSCROLL=0x00200000 WS_HSCROLL=0x00100000
    WS_SYSMENU=0x00080000 WS_GROUP=0x00020000 WS_TABSTOP=0x00010000 DS_3DLOOK=0x4 DS_SETFONT=0x40
    DS_MODALFRAME=0x80 DS_CENTER=0x800 DS_SHELLFONT=0x48 SS_LEFT=0x0 SS_ICON=0x3
    SS_LEFTNOWORDWRAP=0xC SS_NOPREFIX=0x80 BS_PUSHBUTTON=0x0 BS_DEFPUSHBUTTON=0x1
    CBS_DROPDOWNLIST=0x3 CBS_SORT=0x100 IDOK=1 IDCANCEL=2 LANG_NEUTRAL=0x00 LANG_ENGLISH=0x09
    LANG_ITALIAN=0x10 LANG_ALBANIAN=0x1C LANG_SLOVENIAN=0x24 SUBLANG_NEUTRAL=0x00
    SUBLANG_DEFAULT=0x01 SUBLANG_ENGLISH_US=0x01 SUBLANG_ITALIAN=0x01 SUBLANG_ALBANIAN_ALBANIA=0x01
    SUBLANG_SLOVENIAN_SLOVENIA=0x01""")

DIALOG_STYLE = 0x90C008C4   # WS_POPUP|WS_VISIBLE|WS_CAPTION|DS_MODALFRAME|DS_CENTER|DS_SETFONT|DS_3DLOOK


def expected_dialogs(lang):
    """id -> (rect, caption, controls); a control is (id, class, style, (x, y, cx, cy), text),
    a text ("ord", n) being a resource ordinal."""
    lcap, lok, lcancel, pcap, pcancel = DIALOG_TEXTS[lang]
    return {
        1101: ((0, 0, 253, 75), pcap, [
            (101, "static", 0x50000003, (7, 7, 20, 20), ("ord", 128)),
            (103, "static", 0x50020000, (31, 7, 215, 28), ""),
            (105, "static", 0x50020000, (7, 40, 239, 12), ""),
            (104, "msctls_progress32", 0x50800000, (7, 56, 182, 10), ""),
            (2, "button", 0x50010000, (196, 54, 50, 14), pcancel)]),
        129: ((0, 0, 186, 47), lcap, [
            (1000, "combobox", 0x50210103, (7, 7, 172, 50), ""),
            (1, "button", 0x50010001, (35, 26, 50, 14), lok),
            (2, "button", 0x50010000, (101, 26, 50, 14), lcancel)]),
    }


ICON_LAYOUT = sorted([(s, 4) for s in (32, 16)] + [(s, 8) for s in (64, 48, 32, 24, 20, 16)]
                     + [(s, 32) for s in (256, 128, 64, 48, 32, 24, 20, 16)])
# (size, bits) of the images stored as PNG, which Windows Vista and later read. Every other
# image stays a bitmap: an older system may choose it (Windows XP cannot draw PNG images and
# takes 48 px for its tile view).
ICON_PNG = {(256, 32), (128, 32), (64, 32)}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}     # channels per pixel of each colour type
ORDINAL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox",
                   0x84: "scrollbar", 0x85: "combobox"}
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24
SIZE_LIMIT = 100 * 1024
DECODE_ERRORS = (OSError, ValueError, struct.error, zlib.error, UnicodeDecodeError, ET.ParseError)

# Checks are counted by group (one language's strings, one language's dialogs, the icon, ...):
# a group is one case of the harness's report, passing when every check in it does. A failed
# check is printed with its details.
REPORT = harness.Report()
GROUPS = {}          # group -> [checks, failed checks], in the order the groups began
CURRENT = ["resource.h"]


def begin_group(name):
    CURRENT[0] = name
    GROUPS.setdefault(name, [0, 0])


def check(name, ok, detail=""):
    counts = GROUPS.setdefault(CURRENT[0], [0, 0])
    counts[0] += 1
    if not ok:
        counts[1] += 1
        print("FAIL: %s: %s%s" % (CURRENT[0], name, (": " + detail) if detail else ""))
    return ok


def check_eq(name, got, want, hexa=False):
    g, w = ("0x%X" % v if hexa and isinstance(v, int) else repr(v) for v in (got, want))
    sep = "\n   " if len(g) + len(w) > 60 else ""
    return check(name, got == want, "%sgot  %s%swant %s" % (sep, g, sep or ", ", w))


def attempt(name, fn, *args):
    """fn(*args) as the check `name`: its value, or None when it raises a decoding error."""
    try:
        value = fn(*args)
    except DECODE_ERRORS as e:
        check(name, False, str(e))
        return None
    check(name, True)
    return value


def skip(name, why):
    REPORT.skip(name, why)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# The language scripts.
TOKEN = re.compile(r"""
      (?P<ws>\s+)
    | (?P<comment>//[^\n]*|/\*.*?\*/)
    | (?P<pp>^[ \t]*\#[^\n]*)
    | (?P<str>L?"(?:[^"\\\n]|\\.|"")*")
    | (?P<num>0[xX][0-9a-fA-F]+|\d+)[lLuU]*
    | (?P<id>[A-Za-z_][A-Za-z0-9_]*|[,|()])
""", re.X | re.S | re.M)
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "a": "\a"}


def decode_rc_string(lit):
    def one(m):
        if m.group(0) == '""':          # "" is one quote
            return '"'
        if m.group(1) not in ESCAPES:
            raise ValueError("unsupported escape \\%s in %s" % (m.group(1), lit))
        return ESCAPES[m.group(1)]
    return re.sub(r'\\(.)|""', one, lit[lit.index('"') + 1:-1], flags=re.S)


def tokenize(text):
    """(kind, value): ("str", text), ("num", n) or ("id", name or punctuation)."""
    tokens, pos = [], 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError("cannot read %r" % text[pos:pos + 30])
        pos, kind, v = m.end(), m.lastgroup, m.group(m.lastgroup)
        if kind in ("str", "num", "id"):
            tokens.append((kind, decode_rc_string(v) if kind == "str" else int(v, 0) if kind == "num"
                           else v))
    return tokens + [(None, None)]


class Script:
    """LANGUAGE, string table and DIALOGEX templates of one language script; a dialog is a
    dict like the one parse_dialogex returns."""

    def __init__(self, path, names):
        raw = read(path)
        self.has_bom, self.names, self.pos = raw.startswith(b"\xef\xbb\xbf"), names, 0
        self.toks = tokenize(raw.decode("utf-8"))
        self.language, self.strings, self.duplicates, self.dialogs = None, {}, [], {}
        while self.toks[self.pos][0]:
            if self.skip("LANGUAGE"):
                primary, sub = self.args("ii")
                self.language = (sub << 10) | primary
            elif self.skip("STRINGTABLE"):
                self.take("id", "BEGIN")
                while not self.skip("END"):
                    sid = self.expr()
                    self.skip(",")
                    self.duplicates += [sid] if sid in self.strings else []
                    self.strings[sid] = self.take("str")
            else:
                self.dialog()

    def skip(self, word):
        hit = self.toks[self.pos] == ("id", word)
        self.pos += hit
        return hit

    def take(self, kind, word=None):
        tok = self.toks[self.pos]
        if tok[0] != kind or word not in (None, tok[1]):
            raise ValueError("expected %s %s, found %r" % (kind, word or "", tok))
        self.pos += 1
        return tok[1]

    def expr(self):
        """A | B | ... of numbers and names."""
        v = 0
        while True:
            kind, x = self.toks[self.pos]
            x = x if kind == "num" else self.names.get(x, CONSTANTS.get(x)) if kind == "id" else None
            if x is None:
                raise ValueError("unknown name %r" % (self.toks[self.pos],))
            self.pos += 1
            v |= x
            if not self.skip("|"):
                return v & 0xFFFFFFFF

    def args(self, kinds, optional=0):
        """Comma-separated items of the kinds given: "i" expression, "s" text, "?" either."""
        out = []
        while not out or self.skip(","):
            out.append(self.take("str") if self.toks[self.pos][0] == "str" else self.expr())
        if not len(kinds) - optional <= len(out) <= len(kinds) or any(
                k != "?" and (k == "s") != isinstance(v, str) for k, v in zip(kinds, out)):
            raise ValueError("expected %s, found %r" % (kinds, out))
        return out

    def dialog(self):
        did = self.expr()
        self.take("id", "DIALOGEX")
        dlg = {"rect": tuple(self.args("iiii")), "style": None, "exstyle": 0, "caption": None,
               "font": (None, None, 0, 0), "controls": []}
        while not self.skip("BEGIN"):
            word = self.take("id")
            kinds = {"STYLE": "i", "EXSTYLE": "i", "CAPTION": "s", "FONT": "isiii"}.get(word)
            if kinds is None:
                raise ValueError("dialog %d: unsupported statement %s" % (did, word))
            a = self.args(kinds, 3 if word == "FONT" else 0)
            dlg[word.lower()] = tuple((a + [0, 0])[:4]) if word == "FONT" else a[0]
        while not self.skip("END"):
            if not self.skip("CONTROL"):
                raise ValueError("dialog %d: write controls as CONTROL statements, not %r"
                                 % (did, self.toks[self.pos]))
            a = self.args("?isiiiiii", 1)
            dlg["controls"].append((a[1], a[2].lower(), a[3], tuple(a[4:8]),
                                    a[0] if isinstance(a[0], str) else ("ord", a[0]), (a[8:] or [0])[0]))
        self.dialogs[did] = dlg


INSERT = re.compile(r"%(\d+)(![^!]*!)?")


def check_sources():
    """resource.h, setup.rc, the language scripts and the manifest; the scripts by language."""
    begin_group("resource.h")
    text = read(os.path.join(RES, "resource.h")).decode("ascii")
    names = {k: int(v, 0) for k, v in
             re.findall(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(\S+)", text, re.M)}
    for name, value in sorted(HEADER_IDS.items()):
        check("resource.h defines %s as %d" % (name, value), names.get(name) == value,
              "found %r" % (names.get(name),))
    check("resource.h guards AFX_IDS_APP_TITLE",
          re.search(r"#\s*ifndef\s+AFX_IDS_APP_TITLE\s*\n\s*#\s*define\s+AFX_IDS_APP_TITLE", text))
    begin_group("setup.rc")
    text = read(os.path.join(RES, "setup.rc")).decode("utf-8")
    first = text.lstrip("\ufeff").splitlines()[0].strip()
    check("setup.rc starts with #pragma code_page(65001)", first == "#pragma code_page(65001)", first)
    for name, pattern in ([("includes lang_%s.rc" % lang, r'#\s*include\s+"lang_%s\.rc"' % lang)
                           for lang in LANGS]
                          + [("has icon IDI_SETUP from setup.ico", r'^\s*IDI_SETUP\s+ICON\s+"setup\.ico"'),
                             ("has the manifest as type 24, id 1",
                              r'^\s*1\s+(24|RT_MANIFEST)\s+"setup\.manifest"')]):
        check("setup.rc " + name, re.search(pattern, text, re.M))
    scripts = {}
    for lang, langid in LANGS.items():
        begin_group("%s: string table" % lang)
        s = attempt("lang_%s.rc parses" % lang, Script, os.path.join(RES, "lang_%s.rc" % lang), names)
        if s is None:
            continue
        scripts[lang] = s
        check("lang_%s.rc has no byte-order mark" % lang, not s.has_bom)
        check_eq("lang_%s.rc LANGUAGE is 0x%04X" % (lang, langid), s.language, langid, hexa=True)
        check("lang_%s.rc has no duplicate string ids" % lang, not s.duplicates, str(s.duplicates))
        missing = [i for i in STRING_IDS if i not in s.strings]
        extra = [i for i in s.strings if i not in STRING_IDS]
        check("lang_%s.rc has every string id" % lang, not missing, "missing %s" % missing)
        check("lang_%s.rc has no unknown string id" % lang, not extra, "extra %s" % extra)
    en = scripts.get("en")
    for lang, s in scripts.items():
        begin_group("%s: string table" % lang)
        for sid, text in [(i, s.strings[i]) for i in STRING_IDS if i in s.strings]:
            if en is not None and sid in en.strings:
                check_eq("%s %d keeps the English inserts" % (lang, sid),
                         *[sorted(set(m.group(0) for m in INSERT.finditer(t))) for t in (text, en.strings[sid])])
            # A '%' that FormatMessage would read as something other than our inserts.
            check("%s %d has no stray %%" % (lang, sid), "%" not in INSERT.sub("", text), repr(text))
            check("%s %d has no control characters but line feeds" % (lang, sid),
                  all(c == "\n" or ord(c) >= 32 for c in text), repr(text))
            check("%s %d is not empty" % (lang, sid), text.strip() != "")
        for sid, want in KNOWN.get(lang, {}).items():
            check_eq("%s %d text" % (lang, sid), s.strings.get(sid), want)
        if lang == "sl" and en is not None:
            same = [sid for sid in STRING_IDS if s.strings.get(sid) == en.strings.get(sid)]
            check("sl texts are translated", not same, "same as English: %s" % same)
    for lang, s in scripts.items():
        begin_group("%s: dialogs" % lang)
        # The progress window's template caption is the application title.
        check("%s progress caption equals its application title" % lang,
              s.dialogs.get(1101, {}).get("caption") == s.strings.get(57344))
        for did in expected_dialogs(lang):
            if check("lang_%s.rc has dialog %d" % (lang, did), did in s.dialogs):
                check_dialog("lang_%s.rc dialog %d" % (lang, did), s.dialogs[did], lang, did)
    begin_group("manifest")
    root = attempt("manifest is well-formed XML",
                   lambda: ET.parse(os.path.join(RES, "setup.manifest")).getroot())
    if root is not None:
        levels = [e for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
        check("manifest has one requestedExecutionLevel", len(levels) == 1)
        if levels:
            check("execution level asInvoker", levels[0].get("level") == "asInvoker")
            check("uiAccess false", levels[0].get("uiAccess") == "false")
        dpi = [e.text for e in root.iter()
               if e.tag == "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware"]
        check("dpiAware true (2005 namespace)", [(t or "").strip() for t in dpi] == ["true"])
        check("manifest has no dependency (no common controls 6)",
              not [e for e in root.iter() if e.tag.endswith("}dependency")])
    return scripts


def check_dialog(where, got, lang, did):
    rect, caption, controls = expected_dialogs(lang)[did]
    check_eq("%s rect" % where, tuple(got["rect"]), rect)
    check_eq("%s style 0x%08X" % (where, DIALOG_STYLE), got["style"], DIALOG_STYLE, hexa=True)
    check_eq("%s exstyle 0" % where, got["exstyle"], 0, hexa=True)
    check_eq("%s caption" % where, got["caption"], caption)
    size, face, weight, italic = got["font"]
    check("%s font MS Shell Dlg 8" % where, (size, face) == (8, "MS Shell Dlg"), repr(got["font"]))
    check("%s font normal, not italic" % where, weight in (0, 400) and not italic,
          repr(got["font"]))
    check_eq("%s has %d controls" % (where, len(controls)), len(got["controls"]), len(controls))
    for n, (want, have) in enumerate(zip(controls, got["controls"])):
        for i, what in enumerate(("id", "class " + want[1], "style 0x%08X" % want[2], "position",
                                  "text", "exstyle 0")):
            check_eq("%s control #%d (id %d) %s" % (where, n + 1, want[0], what), have[i],
                     (want + (0,))[i], hexa=what.startswith(("style", "exstyle")))


# The icon images.
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
    pos, idat = 8, b""
    while pos < len(blob):
        length, tag = struct.unpack_from(">I4s", blob, pos)
        data = blob[pos + 8:pos + 8 + length]
        if zlib.crc32(tag + data) != struct.unpack_from(">I", blob, pos + 8 + length)[0]:
            raise ValueError("bad CRC in %r chunk" % tag)
        idat += data if tag == b"IDAT" else b""
        if tag == b"IEND":
            break
        pos += 12 + length
    raw, stride = zlib.decompress(idat), w * 4
    if len(raw) != h * (stride + 1):
        raise ValueError("IDAT holds %d bytes, expected %d" % (len(raw), h * (stride + 1)))
    rows, prev = [], bytearray(stride)
    for y in range(h):
        ftype, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if ftype > 4:
            raise ValueError("bad filter type %d" % ftype)
        for x in range(stride if ftype else 0):
            a, b, c = (line[x - 4] if x >= 4 else 0), prev[x], (prev[x - 4] if x >= 4 else 0)
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)       # Paeth distances
            line[x] = (line[x] + (a if ftype == 1 else b if ftype == 2 else (a + b) // 2 if ftype == 3
                                  else a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        prev = line
    return w, h, rows


def parse_dib(blob, size, depth):
    """Checks an icon bitmap; returns (rows of pixels, rows of the AND mask). A pixel is
    (r, g, b, alpha) in a 32-bit image, (r, g, b) from the palette otherwise."""
    hsize, w, h, planes, bits, comp, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", blob)
    if hsize != 40:
        raise ValueError("header size %d" % hsize)
    if (w, h) != (size, 2 * size):
        raise ValueError("header says %dx%d, expected %dx%d" % (w, h, size, 2 * size))
    if planes != 1 or bits != depth or comp != 0 or bits not in (1, 2, 4, 8, 32):
        raise ValueError("planes %d bits %d compression %d" % (planes, bits, comp))
    ncol = (used or (1 << bits)) if bits <= 8 else 0
    if bits <= 8 and ncol > (1 << bits):
        raise ValueError("%d palette entries for %d bits" % (ncol, bits))
    pal = [(blob[42 + 4 * i], blob[41 + 4 * i], blob[40 + 4 * i]) for i in range(ncol)]  # BGRx
    stride, mstride, off = ((size * bits + 31) // 32) * 4, ((size + 31) // 32) * 4, 40 + 4 * ncol
    if len(blob) != off + (stride + mstride) * size:
        raise ValueError("image holds %d bytes, expected %d"
                         % (len(blob), off + (stride + mstride) * size))
    pixels, mask, per = [], [], max(8 // bits, 1)
    for y in range(size):
        row = off + (size - 1 - y) * stride                       # rows are stored bottom-up
        mrow = off + stride * size + (size - 1 - y) * mstride
        mask.append([(blob[mrow + x // 8] >> (7 - x % 8)) & 1 for x in range(size)])
        if bits == 32:
            pixels.append([(blob[p + 2], blob[p + 1], blob[p], blob[p + 3])     # BGRA
                           for p in range(row, row + 4 * size, 4)])
            continue
        idx = [(blob[row + x // per] >> (8 - bits * (x % per + 1))) & ((1 << bits) - 1)
               for x in range(size)]
        if max(idx) >= ncol:
            raise ValueError("pixel uses palette entry %d of %d" % (max(idx), ncol))
        pixels.append([pal[i] for i in idx])
    return pixels, mask


def parse_ico(data):
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file header: %d %d" % (reserved, kind))
    entries = []
    for i in range(count):
        w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + length > len(data) or offset < 6 + 16 * count:
            raise ValueError("entry %d points outside the file" % i)
        entries.append({"w": w or 256, "h": h or 256, "colours": colours, "planes": planes,
                        "bits": bits, "blob": data[offset:offset + length],
                        "span": (offset, offset + length)})
    spans = sorted(e["span"] for e in entries)
    if any(a[1] > b[0] for a, b in zip(spans, spans[1:])):
        raise ValueError("images overlap")
    return entries


def check_icon(tmp):
    """Runs make_icon.py and checks its .ico; returns (path, {(size, bits): bytes}, art), art
    being the artwork's RGBA rows at a size (None when make_icon.py does not load)."""
    begin_group("icon")
    script = os.path.join(RES, "icon", "make_icon.py")
    out1, out2 = os.path.join(tmp, "a.ico"), os.path.join(tmp, "b.ico")
    t0 = time.monotonic()
    r = subprocess.run([sys.executable, script, out1], capture_output=True, text=True)
    elapsed = time.monotonic() - t0
    if not check("make_icon.py runs", r.returncode == 0, r.stderr.strip()):
        return None
    check("make_icon.py finishes within 3 s", elapsed < 3.0, "%.2f s" % elapsed)
    subprocess.run([sys.executable, script, out2], check=False, capture_output=True)
    data = read(out1)
    check("make_icon.py output is the same on every run", os.path.exists(out2) and read(out2) == data)
    images = attempt("icon file parses", parse_ico, data)
    try:
        draw = runpy.run_path(script, run_name="make_icon")["draw"]
        art = functools.lru_cache(None)(lambda size: [[tuple(px) for px in row] for row in draw(size)])
    except Exception as err:  # reported as a failed check, not a crash of the checker
        art = check("make_icon.py loads", False, str(err)) or None
    if images is not None:
        check_images(images, "icon", art)
    return out1, {(e["w"], e["bits"]): e["blob"] for e in images or []}, art


def check_images(images, where, art):
    """The images of an icon as parse_ico gives them: the 16 expected sizes and depths, PNG
    exactly where expected, headers that agree with the entries, the artwork, transparency."""
    check_eq("%s holds the 16 expected images" % where, sorted((e["w"], e["bits"]) for e in images),
             ICON_LAYOUT)
    check_eq("%s: exactly the 32-bit images of 64 px and up are PNG" % where,
             sorted((e["w"], e["bits"]) for e in images if e["blob"][:8] == PNG_SIGNATURE),
             sorted(ICON_PNG))
    for e in images:
        size, bits, blob, png = e["w"], e["bits"], e["blob"], (e["w"], e["bits"]) in ICON_PNG
        tag = "%s %dx%d %d-bit" % (where, size, size, bits)
        check("%s is square" % tag, e["w"] == e["h"])
        check("%s directory entry" % tag, e["planes"] == 1 and e["colours"] == (16 if bits == 4 else 0),
              "planes %d colours %d" % (e["planes"], e["colours"]))
        if not check("%s stored as %s" % (tag, "PNG" if png else "a bitmap (DIB)"),
                     blob.startswith(PNG_SIGNATURE if png else b"\x28\0\0\0")):
            continue
        if png:
            header = attempt("%s PNG header" % tag, png_header, blob)
            if header is None:
                continue
            check("%s PNG header: %dx%d, 8-bit RGBA (%d bits per pixel), not interlaced"
                  % (tag, size, size, bits), header == (size, size, bits, 8, 6, 0),
                  "%dx%d, %d bits per pixel, depth %d, colour type %d, interlace %d" % header)
            decoded = attempt("%s PNG decodes" % tag, parse_png, blob)
            if decoded is None or not check_eq("%s PNG decodes to %dx%d" % (tag, size, size),
                                               decoded[:2], (size, size)):
                continue
            pixels = decoded[2]
            clear = [[px[3] == 0 for px in row] for row in pixels]
            solid = [[px[3] == 255 for px in row] for row in pixels]
        else:
            decoded = attempt("%s DIB is consistent" % tag, parse_dib, blob, size, bits)
            if decoded is None:
                continue
            pixels, clear = decoded                       # clear: the AND mask
            solid = [[not m for m in row] for row in clear]
        check("%s has transparent and opaque pixels" % tag,
              clear[0][0] and any(map(any, solid)) and solid[size // 2][size // 2])
        cells = [(px, m) for prow, mrow in zip(pixels, clear) for px, m in zip(prow, mrow)]
        if not png and bits == 32:
            wrong = sum(1 for px, m in cells if px[3] in (0, 255) and (px[3] == 0) != m)
            check("%s AND mask agrees with alpha" % tag, wrong == 0, "%d pixels" % wrong)
        elif not png:
            # The colour of a masked pixel is XORed onto the background: it must be black.
            bad = sum(1 for px, m in cells if m and px != (0, 0, 0))
            check("%s transparent pixels are black in the colour image" % tag, bad == 0,
                  "%d pixels" % bad)
        if bits == 32 and art is not None:
            check("%s holds the artwork drawn at %d px" % (tag, size), pixels == art(size))


def check_icon_resources(entries, icon, where):
    """RT_ICON images and icon group 128 of compiled or linked resources: the bytes of the .ico,
    then the checks of its images."""
    icons = {e[1][1]: e[3] for e in entries if e[0] == ("ord", RT_ICON) and e[1][0] == "ord"}
    group = find(entries, RT_GROUP_ICON, 128)
    check_eq("%s: 16 icon images" % where, sum(e[0] == ("ord", RT_ICON) for e in entries), 16)
    if not check_eq("%s: one icon group 128" % where, len(group), 1):
        return
    n, group, images = struct.unpack_from("<H", group[0][3], 4)[0], group[0][3], []
    check_eq("%s: icon group 128 lists 16 images" % where, n, 16)
    for i in range(n):
        w, h, colours, _, planes, bits, length, rid = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        tag = "%s: icon %dx%d %d-bit" % (where, w or 256, w or 256, bits)
        if check("%s is image %d" % (tag, rid), rid in icons):
            check_eq("%s entry gives its length" % tag, length, len(icons[rid]))
            check("%s bytes as drawn" % tag, icons[rid] == icon[1].get((w or 256, bits)))
            images.append({"w": w or 256, "h": h or 256, "colours": colours, "planes": planes,
                           "bits": bits, "blob": icons[rid]})
    check_images(images, where + ": icon", icon[2])


# Compiled resources, from windres (.res) or a PE resource section: (type, name, lang, bytes).
def find(entries, rtype, name, lang=None):
    return [e for e in entries if e[0] == ("ord", rtype) and e[1] == ("ord", name)
            and lang in (None, e[2])]


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
    out, pos = [], 0
    while pos < len(data):
        dsize, hsize = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        lang, = struct.unpack_from("<H", data, ((p + 3) & ~3) + 6)
        if not (rtype == ("ord", 0) and dsize == 0):
            out.append((rtype, name, lang, data[pos + hsize:pos + hsize + dsize]))
        pos = (pos + hsize + dsize + 3) & ~3
    return out


def parse_dialogex(data):
    ver, sig, _, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data)
    if (ver, sig) != (1, 0xFFFF):
        raise ValueError("not a DIALOGEX template")
    _, pos = read_id(data, 26)                    # menu
    _, pos = read_id(data, pos)                   # window class
    caption, pos = read_id(data, pos, False)
    font = (None, None, None, None)
    if style & 0x40:                              # DS_SETFONT
        size, weight, italic = struct.unpack_from("<HHB", data, pos)
        face, pos = read_id(data, pos + 6, False)
        font = (size, face, weight, italic)
    controls = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        _, cex, cstyle, x_, y_, cx_, cy_, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        cls, pos = read_id(data, pos + 24)
        cls = ORDINAL_CLASSES.get(cls[1], "ordinal %d" % cls[1]) if isinstance(cls, tuple) else cls
        text, pos = read_id(data, pos)
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
        controls.append((cid, cls.lower(), cstyle, (x_, y_, cx_, cy_), text, cex))
    return {"rect": (x, y, cx, cy), "style": style, "exstyle": exstyle, "caption": caption,
            "font": font, "controls": controls}


def check_compiled(tmp, icon, scripts):
    windres = shutil.which("i686-w64-mingw32-windres")
    if windres is None:
        return skip("compiled resources", "i686-w64-mingw32-windres not installed")
    begin_group("compiled resources")
    shutil.copy(icon[0], os.path.join(tmp, "setup.ico"))
    res_path = os.path.join(tmp, "setup.res")
    r = subprocess.run([windres, "-I", RES, "-I", tmp, "-i", os.path.join(RES, "setup.rc"),
                        "-o", res_path, "-O", "res"], capture_output=True, text=True)
    if not check("windres compiles setup.rc", r.returncode == 0, r.stderr.strip()):
        return None
    entries = parse_res(read(res_path))
    check_icon_resources(entries, icon, "compiled")
    manifest = find(entries, RT_MANIFEST, 1)
    if check_eq("compiled: one manifest, type 24 id 1", len(manifest), 1):
        check("compiled: manifest bytes", manifest[0][3] == read(os.path.join(RES, "setup.manifest")))
    for lang, langid in LANGS.items():
        strings = {}          # block n of RT_STRING: ids (n-1)*16 .. n*16-1 as counted UTF-16 texts
        for rtype, name, rlang, body in entries:
            pos = 0
            for i in range(16 if rtype == ("ord", RT_STRING) and rlang == langid else 0):
                n, = struct.unpack_from("<H", body, pos)
                if n:
                    strings[(name[1] - 1) * 16 + i] = body[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
                pos += 2 + 2 * n
        check_eq("compiled %s: exactly the string ids" % lang, sorted(strings), STRING_IDS)
        want = dict(scripts[lang].strings) if lang in scripts else {}
        want.update(KNOWN.get(lang, {}))
        for sid in STRING_IDS:
            check_eq("compiled %s %d text" % (lang, sid), strings.get(sid), want.get(sid))
        for did in expected_dialogs(lang):
            found = find(entries, RT_DIALOG, did, langid)
            if not check_eq("compiled %s: one dialog %d" % (lang, did), len(found), 1):
                continue
            got = attempt("compiled %s: dialog %d decodes" % (lang, did), parse_dialogex, found[0][3])
            if got is not None:
                check_dialog("compiled %s dialog %d" % (lang, did), got, lang, did)
    return entries


# The linked executables.
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

    def resources(self):
        """(type, name, language, bytes) as parse_res gives them."""
        base = self.dirs[2][0]
        if base == 0:
            raise ValueError("no resource directory")

        def directory(offset):
            named, ids = self.unpack("<HH", base + offset + 12)
            for k in range(named + ids):
                name, target = self.unpack("<II", base + offset + 16 + 8 * k)
                if name & 0x80000000:
                    n, = self.unpack("<H", base + (name & 0x7FFFFFFF))
                    name = self.at(base + (name & 0x7FFFFFFF) + 2, 2 * n).decode("utf-16-le")
                yield name if isinstance(name, str) else ("ord", name), target & 0x7FFFFFFF, target >> 31

        entries = []
        for rtype, t, _ in directory(0):
            for name, n, _ in directory(t):
                for (_, lang), leaf, deeper in directory(n):
                    if deeper:
                        raise ValueError("a fourth directory level")
                    entries.append((rtype, name, lang, self.at(*self.unpack("<II", base + leaf))))
        return entries

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


def check_same_resources(where, got, want, other):
    def key(e):
        return tuple("#%d" % v[1] if isinstance(v, tuple) else '"%s"' % v for v in e[:2]) + (e[2],)
    g, w = collections.Counter(map(key, got)), collections.Counter(map(key, want))
    check("%s: the same resources as %s" % (where, other), g == w, "%d against %d; only here: %s; "
          "only there: %s" % (len(got), len(want), sorted(g - w), sorted(w - g)))
    there = {key(e): e[3] for e in want}
    differ = sorted(key(e) for e in got if key(e) in there and e[3] != there[key(e)])
    check("%s: every resource holds the bytes %s" % (where, other), not differ,
          "differ: %s" % differ[:5])


def check_pe(where, path, machine, magic):
    """The PE file at path after the checks of its machine and optional header, or None."""
    pe = attempt("%s: %s reads as a PE file" % (where, path), lambda: PE(read(path)))
    if pe is not None:
        check_eq("%s: machine 0x%X" % (where, machine), pe.machine, machine, hexa=True)
        check_eq("%s: PE32%s optional header (magic 0x%X)" % (where, "+" * (magic == 0x20B), magic),
                 pe.magic, magic, hexa=True)
    return pe


def check_exe(path, compiled, icon):
    """The x86 setup.exe: headers, size, resources and imports; returns its resources."""
    begin_group("linked setup.exe")
    pe = check_pe("exe", path, 0x14C, 0x10B)
    if pe is None:
        return None
    check_eq("exe: subsystem version 4.0", pe.subsystem_version, (4, 0))
    check("exe: %s is at most %d bytes" % (os.path.basename(path), SIZE_LIMIT),
          len(pe.data) <= SIZE_LIMIT, "%d bytes" % len(pe.data))
    entries = attempt("exe: resource section decodes", pe.resources)
    if entries is not None:
        if compiled is None:
            skip("exe: resources as compiled", "no compiled resources")
        else:
            check_same_resources("exe", entries, compiled, "windres compiled")
        if icon is None:
            skip("exe: icon images", "no icon")
        else:
            check_icon_resources(entries, icon, "exe")
    begin_group("x86 setup.exe: imports")
    got = attempt("x86 exe: import directory decodes", pe.imports)
    if got is not None:
        want = read(IMPORTS).decode("ascii").split() if os.path.exists(IMPORTS) else []
        diff = (["   + " + i for i in sorted(set(got) - set(want))]
                + ["   - " + i for i in sorted(set(want) - set(got))])
        check("x86 exe: imports exactly as listed in tests/res/imports-x86.txt", got == want,
              "%d imports, %d listed (+ added, - removed; review, then run check_resources.py "
              "--write-imports %s)\n%s" % (len(got), len(want), path, "\n".join(diff)))
    return entries


def check_x64(path, entries):
    """The x64 setup.exe: headers, and the resources of the x86 one."""
    begin_group("x64 setup.exe")
    pe = check_pe("x64 exe", path, 0x8664, 0x20B)
    got = pe and attempt("x64 exe: resource section decodes", pe.resources)
    if got is not None and check("x64 exe: the x86 resources to compare with decode",
                                 entries is not None, "see linked setup.exe"):
        check_same_resources("x64 exe", got, entries, "in the x86 exe")


def main(argv):
    opts = dict(zip(argv[::2], argv[1::2]))
    if (len(opts) * 2 != len(argv) or not set(opts) <= {"--exe", "--x64", "--write-imports"}
            or ("--x64" in opts and "--exe" not in opts) or ("--write-imports" in opts and len(opts) > 1)):
        sys.stderr.write("usage: check_resources.py [--exe setup.exe [--x64 x64/setup.exe]]\n"
                         "       check_resources.py --write-imports setup.exe\n")
        return 2
    if "--write-imports" in opts:
        pe = PE(read(opts["--write-imports"]))
        if pe.machine != 0x14C:
            sys.exit("%s is not an x86 executable" % opts["--write-imports"])
        with open(IMPORTS, "w", encoding="ascii", newline="\n") as f:
            f.write("".join(i + "\n" for i in pe.imports()))
        print("wrote " + IMPORTS)
        return 0
    scripts = check_sources()
    tmp = tempfile.mkdtemp(prefix="check_resources.")
    try:
        icon = check_icon(tmp)
        compiled = check_compiled(tmp, icon, scripts) if icon else skip("compiled resources", "no icon")
        if "--exe" in opts:
            entries = check_exe(opts["--exe"], compiled, icon)
            if "--x64" in opts:
                check_x64(opts["--x64"], entries)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    for name, (checks, failed) in GROUPS.items():
        REPORT.report("%s (%d checks)" % (name, checks), ["%d of %d checks failed" % (failed, checks)] if failed else [])
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
