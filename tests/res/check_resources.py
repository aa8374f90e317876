#!/usr/bin/env python3
"""Host-side checks of the setup's resources (no Windows needed).

- The four language scripts res/lang_*.rc: every string id in every language,
  the same FormatMessage inserts as the English text, the English, Italian and
  Albanian texts exactly as expected, the fixed Slovenian texts, and both dialog
  templates with the expected layout, styles and per-language texts.
- res/setup.rc, res/resource.h and res/setup.manifest.
- The icon that res/icon/make_icon.py draws: a valid .ico with the 16 expected
  images, the large 32-bit ones as PNG and every other one as a bitmap (sizes and
  depths read from the PNG header or the bitmap header), the 32-bit images holding
  exactly the drawn artwork, transparent pixels that really are transparent, same
  bytes every run.
- When i686-w64-mingw32-windres is installed: setup.rc is compiled and the
  compiled .res is decoded, to check that windres stored exactly those texts
  (UTF-8 source, escapes), those templates and those icon images.
- With --exe PATH (a built setup.exe): its resource section holds exactly the
  resources that windres compiled (so the icon images too, PNG and bitmaps as
  above), and the file is at most 100 KiB.

Usage: check_resources.py [--exe out/setup.exe]

Last line of output: "N passed, N failed[, N skipped]"; exit status 1 on failure.
"""

import os
import re
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

sys.path.insert(0, os.path.join(ROOT, "tests"))
from expected_texts import (DIALOG_TEXTS, EN, FULL_TEXTS, IT, LANGS, SL_FIXED, SQ,  # noqa: E402
                            STRING_IDS)



HEADER_IDS = {
    "IDD_PROGRESS": 1101, "IDD_LANGUAGE": 129, "IDI_SETUP": 128,
    "IDC_PROGRESS_ICON": 101, "IDC_PROGRESS_TITLE": 103, "IDC_PROGRESS_BAR": 104,
    "IDC_PROGRESS_STATUS": 105, "IDC_LANGUAGE_LIST": 1000, "AFX_IDS_APP_TITLE": 57344,
    "IDS_OUT_OF_MEMORY": 12, "IDS_PACKAGE_NOT_FOUND": 13, "IDS_MISSING_RESOURCE": 15,
    "IDS_PLEASE_WAIT_DOWNLOAD": 16, "IDS_THE_PRODUCT": 17, "IDS_DOWNLOADING_PACKAGE": 18,
    "IDS_VERIFYING_SIGNATURE": 19, "IDS_REQUIRES_PACKAGE": 20, "IDS_NO_SIGNATURE_SUPPORT": 21,
    "IDS_NOT_TRUSTED": 22, "IDS_INVALID_PATH": 23, "IDS_CANCELLED": 24,
    "IDS_INVALID_MSI_VERSION": 25, "IDS_ADMIN_REQUIRED": 26, "IDS_DOWNLOADING_INSTMSI": 27,
    "IDS_INSTMSI_NOT_FOUND": 28, "IDS_UPGRADE_FAILED": 29, "IDS_RESTART_PROMPT": 30,
    "IDS_INVALID_INSTMSI": 31, "IDS_INSTALL_ERROR": 32, "IDS_UPGRADE_PROMPT": 33,
    "IDS_INVALID_OPERATION": 34, "IDS_NO_PACKAGE_FOR_OS": 36, "IDS_USAGE": 37,
}

DIALOG_STYLE = 0x90C008C4   # WS_POPUP|WS_VISIBLE|WS_CAPTION|DS_MODALFRAME|DS_CENTER|DS_SETFONT|DS_3DLOOK


def progress_layout(cancel):
    # (id, class, style, (x, y, cx, cy), text); text ("ord", n) is a resource ordinal
    return [
        (101, "static", 0x50000003, (7, 7, 20, 20), ("ord", 128)),
        (103, "static", 0x50020000, (31, 7, 215, 28), ""),
        (105, "static", 0x50020000, (7, 40, 239, 12), ""),
        (104, "msctls_progress32", 0x50800000, (7, 56, 182, 10), ""),
        (2, "button", 0x50010000, (196, 54, 50, 14), cancel),
    ]


def language_layout(ok, cancel):
    return [
        (1000, "combobox", 0x50210103, (7, 7, 172, 50), ""),
        (1, "button", 0x50010001, (35, 26, 50, 14), ok),
        (2, "button", 0x50010000, (101, 26, 50, 14), cancel),
    ]


def expected_dialogs(lang):
    lcap, lok, lcancel, pcap, pcancel = DIALOG_TEXTS[lang]
    return {
        1101: ((0, 0, 253, 75), pcap, progress_layout(pcancel)),
        129: ((0, 0, 186, 47), lcap, language_layout(lok, lcancel)),
    }


ICON_LAYOUT = ([(s, 4) for s in (32, 16)] + [(s, 8) for s in (64, 48, 32, 24, 20, 16)]
               + [(s, 32) for s in (256, 128, 64, 48, 32, 24, 20, 16)])

# (size, bits) of the images stored as PNG, which Windows Vista and later read. Every other
# image stays a bitmap: an older system may choose it (Windows XP cannot draw PNG images and
# takes 48 px for its tile view).
ICON_PNG = {(256, 32), (128, 32), (64, 32)}

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# Win32 constants that may appear in the style expressions of the scripts.
CONSTANTS = {
    "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000, "WS_VISIBLE": 0x10000000,
    "WS_CAPTION": 0x00C00000, "WS_BORDER": 0x00800000, "WS_DLGFRAME": 0x00400000,
    "WS_VSCROLL": 0x00200000, "WS_HSCROLL": 0x00100000, "WS_SYSMENU": 0x00080000,
    "WS_GROUP": 0x00020000, "WS_TABSTOP": 0x00010000,
    "DS_3DLOOK": 0x4, "DS_SETFONT": 0x40, "DS_MODALFRAME": 0x80, "DS_CENTER": 0x800,
    "DS_SHELLFONT": 0x48,
    "SS_LEFT": 0x0, "SS_ICON": 0x3, "SS_LEFTNOWORDWRAP": 0xC, "SS_NOPREFIX": 0x80,
    "BS_PUSHBUTTON": 0x0, "BS_DEFPUSHBUTTON": 0x1,
    "CBS_DROPDOWNLIST": 0x3, "CBS_SORT": 0x100,
    "IDOK": 1, "IDCANCEL": 2,
    "LANG_NEUTRAL": 0x00, "LANG_ENGLISH": 0x09, "LANG_ITALIAN": 0x10,
    "LANG_ALBANIAN": 0x1C, "LANG_SLOVENIAN": 0x24,
    "SUBLANG_NEUTRAL": 0x00, "SUBLANG_DEFAULT": 0x01, "SUBLANG_ENGLISH_US": 0x01,
    "SUBLANG_ITALIAN": 0x01, "SUBLANG_ALBANIAN_ALBANIA": 0x01, "SUBLANG_SLOVENIAN_SLOVENIA": 0x01,
}

ORDINAL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox",
                   0x84: "scrollbar", 0x85: "combobox"}

# ---------------------------------------------------------------------------
# Tiny test harness
# ---------------------------------------------------------------------------

# Checks are counted by group (one language's strings, one language's dialogs, the icon, ...):
# a group passes when every check in it does. A failed check is printed with its details.
RESULTS = {"passed": 0, "failed": 0, "skipped": 0}
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


def skip(name, why):
    RESULTS["skipped"] += 1
    print("SKIP: %s (%s)" % (name, why))


def report_groups():
    for name, (checks, failed) in GROUPS.items():
        if failed:
            RESULTS["failed"] += 1
            print("FAIL %s: %d of %d checks failed" % (name, failed, checks))
        else:
            RESULTS["passed"] += 1
            print("PASS %s (%d checks)" % (name, checks))


# ---------------------------------------------------------------------------
# Resource script parsing
# ---------------------------------------------------------------------------

def read_header():
    defines = {}
    with open(os.path.join(RES, "resource.h"), encoding="ascii") as f:
        for line in f:
            m = re.match(r"\s*#\s*define\s+(\w+)\s+(\S+)", line)
            if m:
                defines[m.group(1)] = int(m.group(2), 0)
    return defines


TOKEN = re.compile(r"""
      (?P<ws>\s+)
    | (?P<comment>//[^\n]*|/\*.*?\*/)
    | (?P<pp>^[ \t]*\#[^\n]*)
    | (?P<string>L?"(?:[^"\\\n]|\\.|"")*")
    | (?P<number>0[xX][0-9a-fA-F]+|\d+)[lLuU]*
    | (?P<ident>[A-Za-z_][A-Za-z0-9_]*)
    | (?P<punct>[,|()])
""", re.X | re.S | re.M)

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "a": "\a"}


def decode_rc_string(lit):
    body = lit[2:-1] if lit.startswith("L") else lit[1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            e = body[i + 1]
            if e not in ESCAPES:
                raise ValueError("unsupported escape \\%s in %s" % (e, lit))
            out.append(ESCAPES[e])
            i += 2
        elif c == '"':          # "" is one quote
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def tokenize(text):
    tokens, pos = [], 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError("cannot read %r" % text[pos:pos + 30])
        pos = m.end()
        kind = m.lastgroup
        if kind in ("ws", "comment", "pp"):
            continue
        value = m.group(kind)
        if kind == "string":
            tokens.append(("str", decode_rc_string(value)))
        elif kind == "number":
            tokens.append(("num", int(value, 0)))
        else:
            tokens.append((kind, value))
    return tokens


class Script:
    """The statements of one language script that the checks need."""

    def __init__(self, path, names):
        with open(path, "rb") as f:
            raw = f.read()
        self.has_bom = raw.startswith(b"\xef\xbb\xbf")
        self.text = raw.decode("utf-8")
        self.names = names
        self.toks = tokenize(self.text)
        self.pos = 0
        self.language = None
        self.strings = {}
        self.duplicates = []
        self.dialogs = {}
        self.parse()

    def peek(self, ahead=0):
        i = self.pos + ahead
        return self.toks[i] if i < len(self.toks) else (None, None)

    def take(self, kind=None, value=None):
        tok = self.peek()
        if tok[0] is None or (kind and tok[0] != kind) or (value and tok[1] != value):
            raise ValueError("expected %s %s, found %r" % (kind, value or "", tok))
        self.pos += 1
        return tok[1]

    def comma(self):
        if self.peek() == ("punct", ","):
            self.pos += 1

    def value(self, tok):
        kind, v = tok
        if kind == "num":
            return v
        if kind == "ident":
            if v in self.names:
                return self.names[v]
            if v in CONSTANTS:
                return CONSTANTS[v]
        raise ValueError("unknown name %r" % (v,))

    def expr(self):
        """A | B | ... of numbers and names."""
        v = self.value(self.peek())
        self.pos += 1
        while self.peek() == ("punct", "|"):
            self.pos += 1
            v |= self.value(self.peek())
            self.pos += 1
        return v & 0xFFFFFFFF

    def parse(self):
        while self.pos < len(self.toks):
            kind, v = self.peek()
            if (kind, v) == ("ident", "LANGUAGE"):
                self.pos += 1
                primary = self.expr()
                self.comma()
                sub = self.expr()
                self.language = (sub << 10) | primary
            elif (kind, v) == ("ident", "STRINGTABLE"):
                self.pos += 1
                self.take("ident", "BEGIN")
                while self.peek() != ("ident", "END"):
                    sid = self.expr()
                    self.comma()
                    s = self.take("str")
                    if sid in self.strings:
                        self.duplicates.append(sid)
                    self.strings[sid] = s
                self.take("ident", "END")
            elif kind in ("ident", "num") and self.peek(1) == ("ident", "DIALOGEX"):
                self.parse_dialog()
            else:
                raise ValueError("unexpected %r" % ((kind, v),))

    def parse_dialog(self):
        did = self.expr()
        self.take("ident", "DIALOGEX")
        rect = []
        for i in range(4):
            rect.append(self.expr())
            if i < 3:
                self.take("punct", ",")
        dlg = {"rect": tuple(rect), "style": None, "exstyle": 0, "caption": None,
               "font": None, "controls": []}
        while self.peek() != ("ident", "BEGIN"):
            word = self.take("ident")
            if word == "STYLE":
                dlg["style"] = self.expr()
            elif word == "EXSTYLE":
                dlg["exstyle"] = self.expr()
            elif word == "CAPTION":
                dlg["caption"] = self.take("str")
            elif word == "FONT":
                size = self.expr()
                self.comma()
                face = self.take("str")
                extra = []
                while self.peek() == ("punct", ","):
                    self.pos += 1
                    extra.append(self.expr())
                dlg["font"] = (size, face, tuple(extra))
            else:
                raise ValueError("dialog %d: unsupported statement %s" % (did, word))
        self.take("ident", "BEGIN")
        while self.peek() != ("ident", "END"):
            word = self.take("ident")
            if word != "CONTROL":
                raise ValueError("dialog %d: write controls as CONTROL statements, not %s"
                                 % (did, word))
            if self.peek()[0] == "str":
                text = self.take("str")
            else:
                text = ("ord", self.expr())
            self.comma()
            cid = self.expr()
            self.comma()
            cls = self.take("str")
            self.comma()
            style = self.expr()
            vals = []
            while self.peek() == ("punct", ","):
                self.pos += 1
                vals.append(self.expr())
            if len(vals) not in (4, 5):
                raise ValueError("dialog %d control %d: bad coordinates" % (did, cid))
            exstyle = vals[4] if len(vals) == 5 else 0
            dlg["controls"].append((cid, cls.lower(), style, tuple(vals[:4]), text, exstyle))
        self.take("ident", "END")
        self.dialogs[did] = dlg


INSERT = re.compile(r"%(\d+)(![^!]*!)?")


def inserts(text):
    return sorted(set(m.group(0) for m in INSERT.finditer(text)))


def stray_percent(text):
    """A '%' that FormatMessage would read as something other than our inserts."""
    return INSERT.sub("", text).count("%")


def check_header(names):
    begin_group("resource.h")
    for name, value in sorted(HEADER_IDS.items()):
        check("resource.h defines %s as %d" % (name, value), names.get(name) == value,
              "found %r" % (names.get(name),))
    with open(os.path.join(RES, "resource.h"), encoding="ascii") as f:
        text = f.read()
    check("resource.h guards AFX_IDS_APP_TITLE",
          re.search(r"#\s*ifndef\s+AFX_IDS_APP_TITLE\s*\n\s*#\s*define\s+AFX_IDS_APP_TITLE", text)
          is not None)


def check_setup_rc():
    begin_group("setup.rc")
    with open(os.path.join(RES, "setup.rc"), "rb") as f:
        raw = f.read()
    text = raw.decode("utf-8")
    first = text.lstrip("\ufeff").splitlines()[0].strip()
    check("setup.rc starts with #pragma code_page(65001)", first == "#pragma code_page(65001)", first)
    for lang in LANGS:
        check("setup.rc includes lang_%s.rc" % lang,
              re.search(r'#\s*include\s+"lang_%s\.rc"' % lang, text) is not None)
    check("setup.rc has icon IDI_SETUP from setup.ico",
          re.search(r'^\s*IDI_SETUP\s+ICON\s+"setup\.ico"', text, re.M) is not None)
    check("setup.rc has the manifest as type 24, id 1",
          re.search(r'^\s*1\s+(24|RT_MANIFEST)\s+"setup\.manifest"', text, re.M) is not None)


def check_scripts(names):
    scripts = {}
    for lang, langid in LANGS.items():
        begin_group("%s: string table" % lang)
        path = os.path.join(RES, "lang_%s.rc" % lang)
        try:
            s = Script(path, names)
        except (OSError, ValueError, UnicodeDecodeError) as e:
            check("lang_%s.rc parses" % lang, False, str(e))
            continue
        check("lang_%s.rc parses" % lang, True)
        check("lang_%s.rc has no byte-order mark" % lang, not s.has_bom)
        check("lang_%s.rc LANGUAGE is 0x%04X" % (lang, langid), s.language == langid,
              "found %r" % (s.language,))
        check("lang_%s.rc has no duplicate string ids" % lang, not s.duplicates, str(s.duplicates))
        missing = [i for i in STRING_IDS if i not in s.strings]
        extra = [i for i in s.strings if i not in STRING_IDS]
        check("lang_%s.rc has every string id" % lang, not missing, "missing %s" % missing)
        check("lang_%s.rc has no unknown string id" % lang, not extra, "extra %s" % extra)
        scripts[lang] = s
    return scripts


def check_texts(scripts):
    en = scripts.get("en")
    for lang, s in scripts.items():
        begin_group("%s: string table" % lang)
        for sid in STRING_IDS:
            text = s.strings.get(sid)
            if text is None:
                continue
            if en is not None and sid in en.strings:
                check("%s %d keeps the English inserts" % (lang, sid),
                      inserts(text) == inserts(en.strings[sid]),
                      "%s vs English %s" % (inserts(text), inserts(en.strings[sid])))
            check("%s %d has no stray %%" % (lang, sid), stray_percent(text) == 0, repr(text))
            check("%s %d has no control characters but line feeds" % (lang, sid),
                  all(c == "\n" or ord(c) >= 32 for c in text), repr(text))
            check("%s %d is not empty" % (lang, sid), text.strip() != "")
        if lang in FULL_TEXTS:
            for sid, want in FULL_TEXTS[lang].items():
                got = s.strings.get(sid)
                check("%s %d text" % (lang, sid), got == want,
                      "\n   got  %r\n   want %r" % (got, want))
    sl = scripts.get("sl")
    if sl is not None:
        begin_group("sl: string table")
        for sid, want in SL_FIXED.items():
            got = sl.strings.get(sid)
            check("sl %d text" % sid, got == want, "\n   got  %r\n   want %r" % (got, want))
        if en is not None:
            same = [sid for sid in STRING_IDS if sl.strings.get(sid) == en.strings.get(sid)]
            check("sl texts are translated", not same, "same as English: %s" % same)
    for lang, s in scripts.items():
        begin_group("%s: dialogs" % lang)
        # The progress window's template caption is the application title.
        check("%s progress caption equals its application title" % lang,
              s.dialogs.get(1101, {}).get("caption") == s.strings.get(57344))


def check_dialog(where, got, want_rect, want_caption, want_controls, exstyle, font):
    check("%s rect" % where, tuple(got["rect"]) == want_rect, str(got["rect"]))
    check("%s style 0x%08X" % (where, DIALOG_STYLE), got["style"] == DIALOG_STYLE,
          "found %s" % (hex(got["style"]) if got["style"] is not None else None))
    check("%s exstyle 0" % where, exstyle == 0, hex(exstyle))
    check("%s caption" % where, got["caption"] == want_caption,
          "%r vs %r" % (got["caption"], want_caption))
    size, face, weight, italic = font
    check("%s font MS Shell Dlg 8" % where, (size, face) == (8, "MS Shell Dlg"), repr(font))
    check("%s font normal, not italic" % where, weight in (0, 400) and not italic, repr(font))
    controls = got["controls"]
    check("%s has %d controls" % (where, len(want_controls)), len(controls) == len(want_controls),
          "found %d" % len(controls))
    for n, (want, have) in enumerate(zip(want_controls, controls)):
        wid, wcls, wstyle, wrect, wtext = want
        hid, hcls, hstyle, hrect, htext, hex_ = have
        tag = "%s control #%d (id %d)" % (where, n + 1, wid)
        check("%s id" % tag, hid == wid, "found %d" % hid)
        check("%s class %s" % (tag, wcls), hcls == wcls, "found %s" % hcls)
        check("%s style 0x%08X" % (tag, wstyle), hstyle == wstyle, "found 0x%08X" % hstyle)
        check("%s position" % tag, hrect == wrect, str(hrect))
        check("%s text" % tag, htext == wtext, "%r vs %r" % (htext, wtext))
        check("%s exstyle 0" % tag, hex_ == 0, hex(hex_))


def check_script_dialogs(scripts):
    for lang, s in scripts.items():
        begin_group("%s: dialogs" % lang)
        for did, (rect, caption, controls) in expected_dialogs(lang).items():
            got = s.dialogs.get(did)
            if not check("lang_%s.rc has dialog %d" % (lang, did), got is not None):
                continue
            f = got["font"] or (None, None, ())
            extra = f[2] + (0, 0)
            check_dialog("lang_%s.rc dialog %d" % (lang, did), got, rect, caption, controls,
                         got["exstyle"], (f[0], f[1], extra[0], extra[1]))


# ---------------------------------------------------------------------------
# Manifest
# ---------------------------------------------------------------------------

def check_manifest():
    begin_group("manifest")
    path = os.path.join(RES, "setup.manifest")
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        check("manifest is well-formed XML", False, str(e))
        return
    check("manifest is well-formed XML", True)
    levels = [e for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    check("manifest has one requestedExecutionLevel", len(levels) == 1)
    if levels:
        check("execution level asInvoker", levels[0].get("level") == "asInvoker")
        check("uiAccess false", levels[0].get("uiAccess") == "false")
    dpi = [e for e in root.iter()
           if e.tag == "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware"]
    check("dpiAware true (2005 namespace)", len(dpi) == 1 and (dpi[0].text or "").strip() == "true")
    deps = [e for e in root.iter() if e.tag.endswith("}dependency")]
    check("manifest has no dependency (no common controls 6)", not deps)


# ---------------------------------------------------------------------------
# Icon
# ---------------------------------------------------------------------------

# Channels per pixel of each PNG colour type.
PNG_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def png_header(blob):
    """The IHDR chunk, which must come first: (width, height, bits per pixel, bit depth,
    colour type, interlace)."""
    if blob[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    length, = struct.unpack_from(">I", blob, 8)
    if blob[12:16] != b"IHDR" or length != 13:
        raise ValueError("the first chunk is not a 13-byte IHDR")
    w, h, depth, ctype, _, _, interlace = struct.unpack_from(">IIBBBBB", blob, 16)
    if ctype not in PNG_CHANNELS:
        raise ValueError("colour type %d" % ctype)
    return w, h, depth * PNG_CHANNELS[ctype], depth, ctype, interlace


def dib_header(blob):
    """(width, height of the colour image, bits per pixel) from a BITMAPINFOHEADER."""
    hsize, w, h, _, bits = struct.unpack_from("<IiiHH", blob)
    if hsize != 40:
        raise ValueError("header size %d" % hsize)
    return w, h // 2, bits


def parse_png(blob):
    """Returns (width, height, rows of RGBA tuples) for an 8-bit RGBA PNG."""
    if blob[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    pos, idat, ihdr = 8, b"", None
    while pos < len(blob):
        length, = struct.unpack_from(">I", blob, pos)
        tag = blob[pos + 4:pos + 8]
        data = blob[pos + 8:pos + 8 + length]
        crc, = struct.unpack_from(">I", blob, pos + 8 + length)
        if zlib.crc32(tag + data) & 0xFFFFFFFF != crc:
            raise ValueError("bad CRC in %r chunk" % tag)
        if tag == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", data)
        elif tag == b"IDAT":
            idat += data
        elif tag == b"IEND":
            break
        pos += 12 + length
    if ihdr is None:
        raise ValueError("no IHDR")
    w, h, depth, ctype, _, _, interlace = ihdr
    if (depth, ctype, interlace) != (8, 6, 0):
        raise ValueError("not 8-bit RGBA without interlace: %r" % (ihdr,))
    raw = zlib.decompress(idat)
    stride = w * 4
    if len(raw) != h * (stride + 1):
        raise ValueError("IDAT holds %d bytes, expected %d" % (len(raw), h * (stride + 1)))
    rows, prev = [], bytearray(stride)
    for y in range(h):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if ftype != 0:
            for x in range(stride):
                a = line[x - 4] if x >= 4 else 0
                b = prev[x]
                c = prev[x - 4] if x >= 4 else 0
                if ftype == 1:
                    line[x] = (line[x] + a) & 255
                elif ftype == 2:
                    line[x] = (line[x] + b) & 255
                elif ftype == 3:
                    line[x] = (line[x] + (a + b) // 2) & 255
                elif ftype == 4:
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                    line[x] = (line[x] + pred) & 255
                else:
                    raise ValueError("bad filter type %d" % ftype)
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        prev = line
    return w, h, rows


def parse_dib(blob, size, depth):
    """Checks a DIB icon image; returns (rows of pixels, AND mask rows). A pixel is
    (r, g, b, alpha or None, value stored in the colour image)."""
    hsize, w, h, planes, bits, comp, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", blob)
    if hsize != 40:
        raise ValueError("header size %d" % hsize)
    if (w, h) != (size, 2 * size):
        raise ValueError("header says %dx%d, expected %dx%d" % (w, h, size, 2 * size))
    if planes != 1 or bits != depth or comp != 0:
        raise ValueError("planes %d bits %d compression %d" % (planes, bits, comp))
    ncol = (used or (1 << bits)) if bits <= 8 else 0
    if bits <= 8 and ncol > (1 << bits):
        raise ValueError("%d palette entries for %d bits" % (ncol, bits))
    pal = [struct.unpack_from("<BBBB", blob, 40 + 4 * i) for i in range(ncol)]
    stride = ((size * bits + 31) // 32) * 4
    mstride = ((size + 31) // 32) * 4
    off = 40 + 4 * ncol
    want_len = off + stride * size + mstride * size
    if len(blob) != want_len:
        raise ValueError("image holds %d bytes, expected %d" % (len(blob), want_len))
    xor = blob[off:off + stride * size]
    am = blob[off + stride * size:]
    pixels, mask = [], []
    for y in range(size):
        ry = size - 1 - y          # rows are stored bottom-up
        prow, mrow = [], []
        for x in range(size):
            mrow.append((am[ry * mstride + x // 8] >> (7 - x % 8)) & 1)
            if bits == 32:
                b, g, r, a = xor[ry * stride + 4 * x:ry * stride + 4 * x + 4]
                prow.append((r, g, b, a, (r, g, b, a)))
            else:
                per = 8 // bits
                byte = xor[ry * stride + x // per]
                idx = (byte >> (8 - bits * (x % per + 1))) & ((1 << bits) - 1)
                if idx >= ncol:
                    raise ValueError("pixel uses palette entry %d of %d" % (idx, ncol))
                b, g, r, _ = pal[idx]
                prow.append((r, g, b, None, (r, g, b)))
        pixels.append(prow)
        mask.append(mrow)
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
    for a, b in zip(spans, spans[1:]):
        if a[1] > b[0]:
            raise ValueError("images overlap")
    return entries


def load_artwork():
    """make_icon.draw (RGBA rows of the artwork at a size), or None when the script does
    not load."""
    import runpy
    try:
        names = runpy.run_path(os.path.join(RES, "icon", "make_icon.py"), run_name="make_icon")
    except Exception as err:  # reported as a failed check, not a crash of the checker
        check("make_icon.py loads", False, str(err))
        return None
    return names["draw"]


def check_icon(tmp):
    begin_group("icon")
    script = os.path.join(RES, "icon", "make_icon.py")
    out1, out2 = os.path.join(tmp, "a.ico"), os.path.join(tmp, "b.ico")
    t0 = time.monotonic()
    r = subprocess.run([sys.executable, script, out1], capture_output=True, text=True)
    elapsed = time.monotonic() - t0
    if not check("make_icon.py runs", r.returncode == 0, r.stderr.strip()):
        return None
    check("make_icon.py finishes within 3 s", elapsed < 3.0, "%.2f s" % elapsed)
    subprocess.run([sys.executable, script, out2], check=False)
    with open(out1, "rb") as f:
        data = f.read()
    with open(out2, "rb") as f:
        check("make_icon.py output is the same on every run", f.read() == data)
    try:
        entries = parse_ico(data)
    except (ValueError, struct.error) as e:
        check("icon file parses", False, str(e))
        return out1
    check("icon file parses", True)
    got = sorted((e["w"], e["bits"]) for e in entries)
    check("icon holds the 16 expected images", got == sorted(ICON_LAYOUT),
          "found %s" % [(e["w"], e["bits"]) for e in entries])
    check("icon: exactly the 32-bit images of 64 px and up are PNG",
          {(e["w"], e["bits"]) for e in entries if e["blob"][:8] == PNG_SIGNATURE} == ICON_PNG,
          "PNG: %s" % sorted((e["w"], e["bits"]) for e in entries if e["blob"][:8] == PNG_SIGNATURE))
    art = load_artwork()
    for e in entries:
        size, bits = e["w"], e["bits"]
        tag = "icon %dx%d %d-bit" % (size, size, bits)
        check("%s is square" % tag, e["w"] == e["h"])
        check("%s directory entry" % tag, e["planes"] == 1 and e["colours"] == (16 if bits == 4 else 0),
              "planes %d colours %d" % (e["planes"], e["colours"]))
        blob = e["blob"]
        if (size, bits) in ICON_PNG:
            if not check("%s stored as PNG" % tag, blob[:8] == PNG_SIGNATURE):
                continue
            try:
                header = png_header(blob)
            except (ValueError, struct.error) as err:
                check("%s PNG header" % tag, False, str(err))
                continue
            check("%s PNG header: %dx%d, 8-bit RGBA (%d bits per pixel), not interlaced"
                  % (tag, size, size, bits),
                  header[:3] == (size, size, bits) and header[3:] == (8, 6, 0),
                  "%dx%d, %d bits per pixel, depth %d, colour type %d, interlace %d" % header)
            try:
                w, h, rows = parse_png(blob)
            except (ValueError, zlib.error, struct.error) as err:
                check("%s PNG decodes" % tag, False, str(err))
                continue
            check("%s PNG decodes to %dx%d" % (tag, size, size), (w, h) == (size, size),
                  "%dx%d" % (w, h))
            alphas = [px[3] for row in rows for px in row]
            check("%s has transparent and opaque pixels" % tag,
                  rows[0][0][3] == 0 and max(alphas) == 255
                  and rows[size // 2][size // 2][3] == 255)
            if art is not None:
                check("%s holds the artwork drawn at %d px" % (tag, size),
                      rows == [[tuple(px) for px in row] for row in art(size)])
            continue
        if not check("%s stored as a bitmap (DIB)" % tag, blob[:4] == b"\x28\0\0\0"):
            continue
        try:
            pixels, mask = parse_dib(blob, size, bits)
        except (ValueError, struct.error) as err:
            check("%s DIB is consistent" % tag, False, str(err))
            continue
        check("%s DIB is consistent" % tag, True)
        transparent = sum(m for row in mask for m in row)
        check("%s has transparent and opaque pixels" % tag,
              mask[0][0] == 1 and 0 < transparent < size * size and mask[size // 2][size // 2] == 0)
        if bits == 32:
            wrong = sum(1 for y in range(size) for x in range(size)
                        if pixels[y][x][3] in (0, 255) and (pixels[y][x][3] == 0) != (mask[y][x] == 1))
            check("%s AND mask agrees with alpha" % tag, wrong == 0, "%d pixels" % wrong)
            if art is not None:
                check("%s holds the artwork drawn at %d px" % (tag, size),
                      [[px[4] for px in row] for row in pixels]
                      == [[tuple(px) for px in row] for row in art(size)])
        else:
            # The colour of a masked pixel is XORed onto the background: it must be black.
            bad = sum(1 for y in range(size) for x in range(size)
                      if mask[y][x] == 1 and pixels[y][x][4] != (0, 0, 0))
            check("%s transparent pixels are black in the colour image" % tag, bad == 0,
                  "%d pixels" % bad)
    return out1


# ---------------------------------------------------------------------------
# Compiled resources (needs windres)
# ---------------------------------------------------------------------------

def read_id(data, pos):
    """sz_Or_Ord of a .res header or a dialog template; returns (value, new pos)."""
    first, = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        return ("ord", struct.unpack_from("<H", data, pos + 2)[0]), pos + 4
    return read_sz(data, pos)


def read_sz(data, pos):
    end = pos
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def align4(n):
    return (n + 3) & ~3


def parse_res(data):
    out, pos = [], 0
    while pos < len(data):
        dsize, hsize = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        p = align4(p)
        _, _, lang, _, _ = struct.unpack_from("<IHHII", data, p)
        body = data[pos + hsize:pos + hsize + dsize]
        if not (rtype == ("ord", 0) and dsize == 0):
            out.append((rtype, name, lang, body))
        pos = align4(pos + hsize + dsize)
    return out


def parse_dialogex(data):
    ver, sig, _, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data)
    if (ver, sig) != (1, 0xFFFF):
        raise ValueError("not a DIALOGEX template")
    pos = 26
    _, pos = read_id(data, pos)        # menu
    _, pos = read_id(data, pos)        # window class
    caption, pos = read_sz(data, pos)
    font = (None, None, None, None)
    if style & 0x40:                   # DS_SETFONT
        size, weight, italic, _ = struct.unpack_from("<HHBB", data, pos)
        face, pos = read_sz(data, pos + 6)
        font = (size, face, weight, italic)
    controls = []
    for _ in range(count):
        pos = align4(pos)
        _, cex, cstyle, x_, y_, cx_, cy_, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        pos += 24
        cls, pos = read_id(data, pos)
        if isinstance(cls, tuple):
            cls = ORDINAL_CLASSES.get(cls[1], "ordinal %d" % cls[1])
        text, pos = read_id(data, pos)
        extra, = struct.unpack_from("<H", data, pos)
        pos += 2 + extra
        controls.append((cid, cls.lower(), cstyle, (x_, y_, cx_, cy_), text, cex))
    return {"rect": (x, y, cx, cy), "style": style, "caption": caption,
            "controls": controls}, exstyle, font


def check_compiled_icon(group, icons, icon_path, where="compiled"):
    """The group's entries against the RT_ICON images they name and the .ico they came from:
    the same bytes, the same size and depth in the entry as in the image's own header, PNG
    exactly where expected."""
    with open(icon_path, "rb") as f:
        source = {(e["w"], e["bits"]): e["blob"] for e in parse_ico(f.read())}
    images = {e[1][1]: e[3] for e in icons if e[1][0] == "ord"}
    _, _, n = struct.unpack_from("<HHH", group)
    seen = []
    for i in range(n):
        w, h, colours, _, planes, bits, length, rid = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        size = w or 256
        seen.append((size, bits))
        tag = "%s: icon %dx%d %d-bit" % (where, size, size, bits)
        body = images.get(rid)
        if not check("%s is image %d" % (tag, rid), body is not None):
            continue
        check("%s entry gives its length" % tag, length == len(body),
              "entry %d, image %d" % (length, len(body)))
        check("%s bytes as drawn" % tag, body == source.get((size, bits)))
        png = body[:8] == PNG_SIGNATURE
        check("%s stored as %s" % (tag, "PNG" if (size, bits) in ICON_PNG else "a bitmap"),
              png == ((size, bits) in ICON_PNG))
        try:
            got = png_header(body)[:3] if png else dib_header(body)
        except (ValueError, struct.error) as err:
            check("%s header" % tag, False, str(err))
            continue
        check("%s header agrees with the entry" % tag,
              w == h and got == (size, size, bits) and planes == 1
              and colours == (16 if bits == 4 else 0),
              "entry %dx%d %d bits, image %dx%d %d bits" % ((size, h or 256, bits) + got))
    check("%s: icon group 128 lists the 16 expected images" % where, sorted(seen) == sorted(ICON_LAYOUT),
          "found %s" % seen)


def check_compiled(tmp, icon_path, scripts):
    begin_group("compiled resources")
    windres = shutil.which("i686-w64-mingw32-windres")
    if windres is None:
        skip("compiled resources", "i686-w64-mingw32-windres not installed")
        return None
    shutil.copy(icon_path, os.path.join(tmp, "setup.ico"))
    res_path = os.path.join(tmp, "setup.res")
    r = subprocess.run([windres, "-I", RES, "-I", tmp, "-i", os.path.join(RES, "setup.rc"),
                        "-o", res_path, "-O", "res"], capture_output=True, text=True)
    if not check("windres compiles setup.rc", r.returncode == 0, r.stderr.strip()):
        return None
    with open(res_path, "rb") as f:
        entries = parse_res(f.read())
    compiled = entries
    RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24

    def find(rtype, name, lang=None):
        return [e for e in entries if e[0] == ("ord", rtype) and e[1] == ("ord", name)
                and (lang is None or e[2] == lang)]

    icons = [e for e in entries if e[0] == ("ord", RT_ICON)]
    check("compiled: 16 icon images", len(icons) == 16, "found %d" % len(icons))
    group = find(RT_GROUP_ICON, 128)
    if check("compiled: one icon group 128", len(group) == 1, "found %d" % len(group)):
        _, _, n = struct.unpack_from("<HHH", group[0][3])
        check("compiled: icon group 128 lists 16 images", n == 16, "found %d" % n)
        check_compiled_icon(group[0][3], icons, icon_path)
    manifest = find(RT_MANIFEST, 1)
    if check("compiled: one manifest, type 24 id 1", len(manifest) == 1, "found %d" % len(manifest)):
        with open(os.path.join(RES, "setup.manifest"), "rb") as f:
            check("compiled: manifest bytes", manifest[0][3] == f.read())

    for lang, langid in LANGS.items():
        # String table block n holds ids (n-1)*16 .. n*16-1 as counted UTF-16 texts.
        strings = {}
        for rtype, name, rlang, body in entries:
            if rtype != ("ord", RT_STRING) or rlang != langid:
                continue
            base, pos = (name[1] - 1) * 16, 0
            for i in range(16):
                n, = struct.unpack_from("<H", body, pos)
                pos += 2
                if n:
                    strings[base + i] = body[pos:pos + 2 * n].decode("utf-16-le")
                pos += 2 * n
        check("compiled %s: exactly the string ids" % lang, sorted(strings) == STRING_IDS,
              "found %s" % sorted(strings))
        src = scripts.get(lang)
        want_texts = dict(src.strings) if src else {}
        want_texts.update(FULL_TEXTS.get(lang, {}))
        if lang == "sl":
            want_texts.update(SL_FIXED)
        for sid in STRING_IDS:
            check("compiled %s %d text" % (lang, sid), strings.get(sid) == want_texts.get(sid),
                  "\n   got  %r\n   want %r" % (strings.get(sid), want_texts.get(sid)))
        for did, (rect, caption, controls) in expected_dialogs(lang).items():
            found = find(RT_DIALOG, did, langid)
            if not check("compiled %s: one dialog %d" % (lang, did), len(found) == 1,
                         "found %d" % len(found)):
                continue
            try:
                got, exstyle, font = parse_dialogex(found[0][3])
            except (ValueError, struct.error) as e:
                check("compiled %s: dialog %d decodes" % (lang, did), False, str(e))
                continue
            check_dialog("compiled %s dialog %d" % (lang, did), got, rect, caption, controls,
                         exstyle, font)
    return compiled


# ---------------------------------------------------------------------------
# A built setup.exe (--exe)
# ---------------------------------------------------------------------------

SIZE_LIMIT = 100 * 1024


def pe_resources(data):
    """Resources of a PE file as (type, name, language, bytes), like parse_res."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    nsections, = struct.unpack_from("<H", data, pe + 6)
    optsize, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    if struct.unpack_from("<H", data, opt)[0] != 0x10B:
        raise ValueError("not a 32-bit PE")
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, opt + 96 + 2 * 8)
    sections = []
    for i in range(nsections):
        o = opt + optsize + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, o + 8)
        sections.append((va, max(vsize, rawsize), raw, rawsize))

    def at(rva, length):
        for va, span, raw, rawsize in sections:
            if va <= rva and rva + length <= va + span:
                if rva - va + length > rawsize or raw + rva - va + length > len(data):
                    raise ValueError("RVA 0x%x+%d lies beyond the file data" % (rva, length))
                return data[raw + rva - va:raw + rva - va + length]
        raise ValueError("RVA 0x%x+%d is in no section" % (rva, length))

    if rsrc_rva == 0:
        raise ValueError("no resource directory")
    base = rsrc_rva

    def directory(offset):
        named, ids = struct.unpack_from("<HH", at(base + offset + 12, 4))
        out = []
        for k in range(named + ids):
            name, target = struct.unpack("<II", at(base + offset + 16 + 8 * k, 8))
            if name & 0x80000000:
                length, = struct.unpack("<H", at(base + (name & 0x7FFFFFFF), 2))
                key = at(base + (name & 0x7FFFFFFF) + 2, 2 * length).decode("utf-16-le")
            else:
                key = ("ord", name)
            out.append((key, target))
        return out

    entries = []
    for rtype, t in directory(0):
        for name, n in directory(t & 0x7FFFFFFF):
            for (_, lang), leaf in directory(n & 0x7FFFFFFF):
                if leaf & 0x80000000:
                    raise ValueError("a fourth directory level")
                rva, size, _, _ = struct.unpack("<IIII", at(base + leaf, 16))
                entries.append((rtype, name, lang, at(rva, size)))
    return entries, rsrc_size


def check_exe(path, compiled, icon_path):
    begin_group("linked setup.exe")
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        check("exe: %s can be read" % path, False, str(e))
        return
    check("exe: %s is at most %d bytes" % (os.path.basename(path), SIZE_LIMIT),
          len(data) <= SIZE_LIMIT, "%d bytes" % len(data))
    try:
        entries, _ = pe_resources(data)
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        check("exe: resource section decodes", False, str(e))
        return
    check("exe: resource section decodes", True)
    key = lambda e: (repr(e[0]), repr(e[1]), e[2])
    got = sorted(entries, key=key)
    if compiled is None:
        skip("exe: resources as compiled", "no compiled resources")
    else:
        want = sorted(compiled, key=key)
        check("exe: the same resources as windres compiled",
              [key(e) for e in got] == [key(e) for e in want],
              "exe has %d, windres %d" % (len(got), len(want)))
        differ = [key(a) for a, b in zip(got, want) if key(a) == key(b) and a[3] != b[3]]
        check("exe: every resource holds the bytes windres compiled", not differ,
              "differ: %s" % differ[:5])
    icons = [e for e in entries if e[0] == ("ord", 3)]
    group = [e for e in entries if e[0] == ("ord", 14) and e[1] == ("ord", 128)]
    check("exe: 16 icon images", len(icons) == 16, "found %d" % len(icons))
    if check("exe: one icon group 128", len(group) == 1, "found %d" % len(group)):
        check_compiled_icon(group[0][3], icons, icon_path, "exe")


def main(argv):
    exe = None
    if len(argv) == 2 and argv[0] == "--exe":
        exe = argv[1]
    elif argv:
        sys.stderr.write("usage: check_resources.py [--exe setup.exe]\n")
        return 2
    names = read_header()
    check_header(names)
    check_setup_rc()
    scripts = check_scripts(names)
    check_texts(scripts)
    check_script_dialogs(scripts)
    check_manifest()
    tmp = tempfile.mkdtemp(prefix="check_resources.")
    try:
        icon = check_icon(tmp)
        compiled = None
        if icon is not None:
            compiled = check_compiled(tmp, icon, scripts)
        else:
            skip("compiled resources", "no icon")
        if exe is not None:
            if icon is not None:
                check_exe(exe, compiled, icon)
            else:
                skip("exe", "no icon")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    report_groups()
    line = "%d passed, %d failed" % (RESULTS["passed"], RESULTS["failed"])
    if RESULTS["skipped"]:
        line += ", %d skipped" % RESULTS["skipped"]
    print(line)
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
