#!/usr/bin/env python3
"""Host-side checks of the setup's resources and linked executables (no Windows needed).

Without options: res/resource.h, res/setup.rc, the four res/lang_*.rc, res/setup.manifest, the
icon that res/icon/make_icon.py draws (16 images, PNG or bitmap, headers, artwork, transparency)
and the .res that i686-w64-mingw32-windres compiles from setup.rc. Each language script is
compiled on its own and read back as setup.exe will hold it (its LANGUAGE, string ids, inserts,
the texts of tests/expected_texts.py, both dialog templates); its source is read for what
compiling hides (UTF-8 without byte-order mark, a string id given twice, CONTROL statements).
--exe PATH, the x86 setup.exe: the resources windres compiled, at most 100 KiB, machine 0x14C,
subsystem version 4.0, and the imports ("DLL!Function") listed in tests/res/imports-x86.txt,
so that every new import is a deliberate review (--write-imports PATH rewrites that list).
--x64 PATH, with --exe: machine 0x8664, PE32+, the same resources as the x86 file.
The binary formats are read by tests/res/formats.py.

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

from formats import (PE, PNG_SIGNATURE, RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_STRING, find,
                     icon_entries, parse_dialogex, parse_dib, parse_png, parse_res, png_header, string_table)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RES = os.path.join(ROOT, "res")
IMPORTS = os.path.join(ROOT, "tests", "res", "imports-x86.txt")
WINDRES = shutil.which("i686-w64-mingw32-windres")
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

# Win32 constants that the style expressions of the scripts may name.
CONSTANTS = table("""
    WS_POPUP=0x80000000 WS_CHILD=0x40000000 WS_VISIBLE=0x10000000 WS_CAPTION=0x00C00000
    WS_BORDER=0x00800000 WS_DLGFRAME=0x00400000 WS_VSCROLL=0x00200000 WS_HSCROLL=0x00100000
    WS_SYSMENU=0x00080000 WS_GROUP=0x00020000 WS_TABSTOP=0x00010000 DS_3DLOOK=0x4 DS_SETFONT=0x40
    DS_MODALFRAME=0x80 DS_CENTER=0x800 DS_SHELLFONT=0x48 SS_LEFT=0x0 SS_ICON=0x3
    SS_LEFTNOWORDWRAP=0xC SS_NOPREFIX=0x80 BS_PUSHBUTTON=0x0 BS_DEFPUSHBUTTON=0x1
    CBS_DROPDOWNLIST=0x3 CBS_SORT=0x100""")

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
SIZE_LIMIT = 100 * 1024
DECODE_ERRORS = (OSError, ValueError, struct.error, zlib.error, UnicodeDecodeError, ET.ParseError)
INSERT = re.compile(r"%\d+(?:![^!]*!)?")            # FormatMessage's inserts: %1, %1!d!

# Checks are counted by group (one language's strings, one language's dialogs, the icon, ...):
# a group is one case of the harness's report, passing when every check in it does. A failed
# check is printed with its details.
REPORT = harness.Report()
GROUPS = {}          # group -> [checks, failed checks], in the order the groups began
CURRENT = [None]


def group(name):
    CURRENT[0] = name
    GROUPS.setdefault(name, [0, 0])


def check(name, ok, detail=""):
    counts = GROUPS[CURRENT[0]]
    counts[0], counts[1] = counts[0] + 1, counts[1] + (not ok)
    if not ok:
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
        return check(name, False, str(e)) or None
    check(name, True)
    return value


def read(path):
    with open(path, "rb") as f:
        return f.read()


def windres(source, tmp):
    """The resources windres compiles from source, its includes found in res/ and tmp."""
    out = os.path.join(tmp, os.path.basename(source) + ".res")
    r = subprocess.run([WINDRES, "-I", RES, "-I", tmp, "-i", source, "-o", out, "-O", "res"],
                       capture_output=True, text=True)
    if r.returncode:
        raise ValueError(r.stderr.strip() or "exit status %d" % r.returncode)
    return parse_res(read(out))


# The sources.
def check_header_and_setup_rc():
    """resource.h and setup.rc; returns resource.h's names and setup.rc's text."""
    group("resource.h")
    text = read(os.path.join(RES, "resource.h")).decode("ascii")
    names = {k: int(v, 0) for k, v in
             re.findall(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(\S+)", text, re.M)}
    for name, value in sorted(HEADER_IDS.items()):
        check("resource.h defines %s as %d" % (name, value), names.get(name) == value,
              "found %r" % (names.get(name),))
    check("resource.h guards AFX_IDS_APP_TITLE",
          re.search(r"#\s*ifndef\s+AFX_IDS_APP_TITLE\s*\n\s*#\s*define\s+AFX_IDS_APP_TITLE", text))
    group("setup.rc")
    text = read(os.path.join(RES, "setup.rc")).decode("utf-8")
    first = text.lstrip("\ufeff").splitlines()[0].strip()
    check("setup.rc starts with #pragma code_page(65001)", first == "#pragma code_page(65001)", first)
    for name, pattern in ([("includes lang_%s.rc" % lang, r'#\s*include\s+"lang_%s\.rc"' % lang)
                           for lang in LANGS]
                          + [("has icon IDI_SETUP from setup.ico", r'^\s*IDI_SETUP\s+ICON\s+"setup\.ico"'),
                             ("has the manifest as type 24, id 1",
                              r'^\s*1\s+(24|RT_MANIFEST)\s+"setup\.manifest"')]):
        check("setup.rc " + name, re.search(pattern, text, re.M))
    return names, text


def table_ids(text, names):
    """The string ids (ID "text" or ID, "text") that the STRINGTABLE blocks of a script give."""
    blocks = re.findall(r"^\s*STRINGTABLE\b.*?^\s*BEGIN\b(.*?)^\s*END\b", text, re.M | re.S)
    return [names[w] if w in names else int(w, 0)
            for b in blocks for w in re.findall(r'^\s*(\w+)\s*,?\s*L?"', b, re.M)]


def written_styles(text, names):
    """Dialog id -> [its STYLE, then each CONTROL's style] as a script writes them."""
    def value(expr):
        words = re.findall(r"\w+", expr)
        unknown = [w for w in words if not w[0].isdigit() and w not in CONSTANTS]
        if unknown:
            raise ValueError("unknown names %s in %r" % (unknown, expr))
        return functools.reduce(lambda a, w: a | (int(w, 0) if w[0].isdigit() else CONSTANTS[w]), words, 0)
    control = r'^\s*CONTROL\s+(?:"(?:[^"]|"")*"|\w+)\s*,\s*\w+\s*,\s*"[^"]*"\s*,\s*([^,]+),'
    return {names.get(did, did): [value(e) for e in re.findall(r"^\s*STYLE\s+([^\n]+)", body, re.M)
                                  + re.findall(control, body, re.M)]
            for did, body in re.findall(r"^\s*(\w+)\s+DIALOGEX\b(.*?)^\s*END\b", text, re.M | re.S)}


def check_scripts(tmp, names, setup_rc):
    """Each language script compiled on its own, read back and checked as setup.exe holds it,
    and its source for what compiling hides; returns {lang: resources} of those that compile."""
    for kind in ("string table", "dialogs"):            # the groups in this order
        for lang in LANGS:
            group("%s: %s" % (lang, kind))
    # A script is compiled with what setup.rc's preprocessor lines give it (code page, headers,
    # fallback names), without the other scripts.
    prelude = "".join(line + "\n" for line in setup_rc.splitlines()
                      if line.lstrip().startswith("#") and "lang_" not in line)
    scripts, en = {}, None
    for lang, langid in LANGS.items():      # English first: the others keep its inserts
        group("%s: string table" % lang)
        rc = "lang_%s.rc" % lang
        raw = read(os.path.join(RES, rc))
        check("%s has no byte-order mark" % rc, not raw.startswith(b"\xef\xbb\xbf"))
        text = attempt("%s is UTF-8" % rc, raw.decode, "utf-8") or raw.decode("utf-8", "replace")
        # windres keeps the last of two texts given one id: only the source shows the first.
        ids = attempt("%s names its string ids in resource.h or as numbers" % rc, table_ids, text, names)
        dups = sorted(i for i, n in collections.Counter(ids or []).items() if n > 1)
        check("%s has no duplicate string ids" % rc, not dups, str(dups))
        with open(os.path.join(tmp, "only_" + rc), "w", encoding="utf-8") as f:
            f.write('%s#include "%s"\n' % (prelude, rc))
        entries = attempt("%s compiles" % rc, windres, os.path.join(tmp, "only_" + rc), tmp)
        strings = entries and attempt("%s string table decodes" % rc, string_table, entries)
        if strings:
            scripts[lang], en = entries, strings if lang == "en" else en
            check_strings(lang, rc, entries, strings, en)
            group("%s: dialogs" % lang)
            check_dialogs(lang, rc, entries, strings, text, names)
    return scripts


def check_strings(lang, rc, entries, strings, en):
    langs = sorted({e[2] for e in entries})
    other = {e[0] for e in entries} - {("ord", RT_STRING), ("ord", RT_DIALOG)}
    missing = [i for i in STRING_IDS if i not in strings]
    extra = [i for i in strings if i not in STRING_IDS]
    for what, ok, detail in [
            ("LANGUAGE is 0x%04X" % LANGS[lang], langs == [LANGS[lang]], " ".join(map(hex, langs))),
            ("holds string tables and dialogs only", not other, sorted(other)),
            ("has every string id", not missing, "missing %s" % missing),
            ("has no unknown string id", not extra, "extra %s" % extra)]:
        check("%s %s" % (rc, what), ok, str(detail))
    for sid in [i for i in STRING_IDS if i in strings]:
        s, tag = strings[sid], "%s %d" % (lang, sid)
        if en is not None and sid in en:
            check_eq(tag + " keeps the English inserts",
                     *[sorted(set(INSERT.findall(t))) for t in (s, en[sid])])
        # A stray '%' is one that FormatMessage would read as something other than our inserts.
        for what, ok in [("has no stray %", "%" not in INSERT.sub("", s)),
                         ("has no control characters but line feeds", all(c == "\n" or c >= " " for c in s)),
                         ("is not empty", s.strip() != "")]:
            check("%s %s" % (tag, what), ok, repr(s))
    for sid, want in KNOWN.get(lang, {}).items():
        check_eq("%s %d text" % (lang, sid), strings.get(sid), want)
    if lang == "sl" and en is not None:
        same = [sid for sid in STRING_IDS if strings.get(sid) == en.get(sid)]
        check("sl texts are translated", not same, "same as English: %s" % same)


def check_dialogs(lang, rc, entries, strings, text, names):
    dialogs, wanted = {}, expected_dialogs(lang)
    # The compiler adds WS_CAPTION to a dialog with a caption, WS_CHILD | WS_VISIBLE to every
    # control: the styles that the script writes must be the whole ones all the same.
    written = attempt("%s style expressions read" % rc, written_styles, text, names) or {}
    for did in wanted:
        found = find(entries, RT_DIALOG, ("ord", did))
        if check("%s has dialog %d" % (rc, did), len(found) == 1):
            dialogs[did] = attempt("%s dialog %d decodes" % (rc, did), parse_dialogex, found[0][3])
        if dialogs.get(did):
            check_dialog("%s dialog %d" % (rc, did), dialogs[did], lang, did)
            styles = [dialogs[did]["style"]] + [c[2] for c in dialogs[did]["controls"]]
            check_eq("%s dialog %d writes every style in full" % (rc, did),
                     ["0x%08X" % v for v in written.get(did, [])], ["0x%08X" % v for v in styles])
    # The progress window's template caption is the application title.
    check("%s progress caption equals its application title" % lang,
          (dialogs.get(1101) or {}).get("caption") == strings.get(57344))
    # PUSHBUTTON, LTEXT and the like add styles of their own: each control's are written out.
    check_eq("%s writes its controls as CONTROL statements" % rc,
             len(re.findall(r"^\s*CONTROL\b", text, re.M)), sum(len(d[2]) for d in wanted.values()))


def check_dialog(where, got, lang, did):
    rect, caption, controls = expected_dialogs(lang)[did]
    size, face, weight, italic = got["font"]
    rows = [("rect", got["rect"], rect),
            ("style 0x%08X" % DIALOG_STYLE, got["style"], DIALOG_STYLE),
            ("exstyle 0", got["exstyle"], 0),
            ("has no menu, the default class", (got["menu"], got["class"]), ("", "")),
            ("caption", got["caption"], caption),
            ("font MS Shell Dlg 8", (size, face), (8, "MS Shell Dlg")),
            ("font normal, not italic", (weight in (0, 400), bool(italic)), (True, False)),
            ("has %d controls" % len(controls), len(got["controls"]), len(controls))]
    for n, (want, have) in enumerate(zip(controls, got["controls"])):
        rows += [("control #%d (id %d) %s" % (n + 1, want[0], what), have[i], (want + (0,))[i])
                 for i, what in enumerate(("id", "class " + want[1], "style 0x%08X" % want[2],
                                           "position", "text", "exstyle 0"))]
    for what, have, want in rows:
        check_eq("%s %s" % (where, what), have, want, hexa="style" in what)


def check_manifest():
    group("manifest")
    root = attempt("manifest is well-formed XML",
                   lambda: ET.parse(os.path.join(RES, "setup.manifest")).getroot())
    if root is None:
        return
    tags = lambda end: [e for e in root.iter() if e.tag.endswith(end)]  # noqa: E731
    level = tags("}requestedExecutionLevel")
    for name, ok in [
            ("manifest has one requestedExecutionLevel", len(level) == 1),
            ("execution level asInvoker", level[:1] and level[0].get("level") == "asInvoker"),
            ("uiAccess false", level[:1] and level[0].get("uiAccess") == "false"),
            ("dpiAware true (2005 namespace)", ["true"] == [(e.text or "").strip() for e in tags(
                "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")]),
            ("manifest has no dependency (no common controls 6)", not tags("}dependency"))]:
        check(name, ok)


# The icon.
def check_icon(tmp):
    """Runs make_icon.py and checks its .ico; returns (path, {(size, bits): bytes}, art), art
    being the artwork's RGBA rows at a size (None when make_icon.py does not load)."""
    group("icon")
    script = os.path.join(RES, "icon", "make_icon.py")
    out1, out2 = os.path.join(tmp, "a.ico"), os.path.join(tmp, "b.ico")
    t0 = time.monotonic()
    r = subprocess.run([sys.executable, script, out1], capture_output=True, text=True)
    elapsed = time.monotonic() - t0
    if not check("make_icon.py runs", r.returncode == 0, r.stderr.strip()):
        return None
    check("make_icon.py finishes within 3 s", elapsed < 3.0, "%.2f s" % elapsed)
    subprocess.run([sys.executable, script, out2], check=False, capture_output=True)
    check("make_icon.py output is the same on every run", os.path.exists(out2) and read(out2) == read(out1))
    images = attempt("icon file parses", icon_entries, read(out1))
    try:
        draw = runpy.run_path(script, run_name="make_icon")["draw"]
        art = functools.lru_cache(None)(lambda size: [[tuple(px) for px in row] for row in draw(size)])
    except Exception as err:  # reported as a failed check, not a crash of the checker
        art = check("make_icon.py loads", False, str(err)) or None
    if images is not None:
        check_images(images, "icon", art)
    return out1, {(e["w"], e["bits"]): e["blob"] for e in images or []}, art


def image_pixels(e, tag, png):
    """After the checks of its PNG or bitmap headers, the rows of an image's pixels and of its
    transparent and its opaque pixels; None when it does not decode."""
    size, blob = e["w"], e["blob"]
    if not png:
        decoded = attempt("%s DIB is consistent" % tag, parse_dib, blob, size, e["bits"])
        return decoded and (decoded[0], decoded[1], [[not m for m in row] for row in decoded[1]])
    header = attempt("%s PNG header" % tag, png_header, blob)
    if header is None:
        return None
    check("%s PNG header: %dx%d, 8-bit RGBA (%d bits per pixel), not interlaced"
          % (tag, size, size, e["bits"]), header == (size, size, e["bits"], 8, 6, 0),
          "%dx%d, %d bits per pixel, depth %d, colour type %d, interlace %d" % header)
    decoded = attempt("%s PNG decodes" % tag, parse_png, blob)
    if decoded and check_eq("%s PNG decodes to %dx%d" % (tag, size, size), decoded[:2], (size, size)):
        return (decoded[2], [[px[3] == 0 for px in row] for row in decoded[2]],
                [[px[3] == 255 for px in row] for row in decoded[2]])
    return None


def check_images(images, where, art):
    """The images of an icon: the 16 expected sizes and depths, PNG exactly where expected,
    headers that agree with the entries, the artwork, transparency."""
    check_eq("%s holds the 16 expected images" % where, sorted((e["w"], e["bits"]) for e in images),
             ICON_LAYOUT)
    check_eq("%s: exactly the 32-bit images of 64 px and up are PNG" % where,
             sorted((e["w"], e["bits"]) for e in images if e["blob"][:8] == PNG_SIGNATURE), sorted(ICON_PNG))
    for e in images:
        size, bits, png = e["w"], e["bits"], (e["w"], e["bits"]) in ICON_PNG
        tag = "%s %dx%d %d-bit" % (where, size, size, bits)
        check("%s is square" % tag, e["w"] == e["h"])
        check("%s directory entry" % tag, e["planes"] == 1 and e["colours"] == (16 if bits == 4 else 0),
              "planes %d colours %d" % (e["planes"], e["colours"]))
        stored = check("%s stored as %s" % (tag, "PNG" if png else "a bitmap (DIB)"),
                       e["blob"].startswith(PNG_SIGNATURE if png else b"\x28\0\0\0"))
        decoded = stored and image_pixels(e, tag, png)
        if not decoded:
            continue
        pixels, clear, solid = decoded
        check("%s has transparent and opaque pixels" % tag,
              clear[0][0] and any(map(any, solid)) and solid[size // 2][size // 2])
        cells = [(px, m) for prow, mrow in zip(pixels, clear) for px, m in zip(prow, mrow)]
        if not png and bits == 32:
            wrong = sum(1 for px, m in cells if px[3] in (0, 255) and (px[3] == 0) != m)
            check("%s AND mask agrees with alpha" % tag, wrong == 0, "%d pixels" % wrong)
        elif not png:
            # The colour of a masked pixel is XORed onto the background: it must be black.
            bad = sum(1 for px, m in cells if m and px != (0, 0, 0))
            check("%s transparent pixels are black in the colour image" % tag, bad == 0, "%d pixels" % bad)
        if bits == 32 and art is not None:
            check("%s holds the artwork drawn at %d px" % (tag, size), pixels == art(size))


def check_icon_resources(entries, icon, where):
    """RT_ICON images and icon group 128 of compiled or linked resources: the bytes of the .ico,
    then the checks of its images."""
    groups = find(entries, RT_GROUP_ICON, ("ord", 128))
    check_eq("%s: 16 icon images" % where, len(find(entries, RT_ICON)), 16)
    if not check_eq("%s: one icon group 128" % where, len(groups), 1):
        return
    stored = {e[1][1]: e[3] for e in find(entries, RT_ICON) if e[1][0] == "ord"}
    images = attempt("%s: icon group 128 decodes" % where, icon_entries, groups[0][3], stored) or []
    check_eq("%s: icon group 128 lists 16 images" % where, len(images), 16)
    for e in images:
        tag = "%s: icon %dx%d %d-bit" % (where, e["w"], e["w"], e["bits"])
        if check("%s is image %d" % (tag, e["at"]), e["blob"] is not None):
            check_eq("%s entry gives its length" % tag, e["length"], len(e["blob"]))
            check("%s bytes as drawn" % tag, e["blob"] == icon[1].get((e["w"], e["bits"])))
    check_images([e for e in images if e["blob"] is not None], where + ": icon", icon[2])


def check_compiled(tmp, icon, scripts):
    """setup.rc compiled: the icon, the manifest, and the resources of the language scripts."""
    group("compiled resources")
    shutil.copy(icon[0], os.path.join(tmp, "setup.ico"))
    entries = attempt("windres compiles setup.rc", windres, os.path.join(RES, "setup.rc"), tmp)
    if entries is None:
        return None
    check_icon_resources(entries, icon, "compiled")
    manifest = find(entries, RT_MANIFEST, ("ord", 1))
    if check_eq("compiled: one manifest, type 24 id 1", len(manifest), 1):
        check("compiled: manifest bytes", manifest[0][3] == read(os.path.join(RES, "setup.manifest")))
    # Its strings and dialogs must be those that each script's groups checked, byte for byte.
    texts = [e for e in entries if e[0] not in [("ord", t) for t in (RT_ICON, RT_GROUP_ICON, RT_MANIFEST)]]
    if check("compiled: every language script compiled on its own", len(scripts) == len(LANGS),
             "see the groups of %s" % sorted(set(LANGS) - set(scripts))):
        check_same_resources("compiled", texts, sum(scripts.values(), []), "the language scripts")
    return entries


# The linked executables.
def check_same_resources(where, got, want, other):
    def key(e):
        return tuple("#%d" % v[1] if isinstance(v, tuple) else '"%s"' % v for v in e[:2]) + (e[2],)
    g, w = collections.Counter(map(key, got)), collections.Counter(map(key, want))
    check("%s: the same resources as %s" % (where, other), g == w, "%d against %d; only here: %s; "
          "only there: %s" % (len(got), len(want), sorted(g - w), sorted(w - g)))
    there = {key(e): e[3] for e in want}
    differ = sorted(key(e) for e in got if key(e) in there and e[3] != there[key(e)])
    check("%s: every resource holds the bytes %s" % (where, other), not differ, "differ: %s" % differ[:5])


def check_pe(name, where, path, machine, magic):
    """The group `name`: the PE file at path, its machine and optional header, and for the x86
    file, which runs on the oldest systems, subsystem version and size; returns the file and its
    resources (None for what does not decode)."""
    group(name)
    pe = attempt("%s: %s reads as a PE file" % (where, path), lambda: PE(read(path)))
    if pe is None:
        return None, None
    check_eq("%s: machine 0x%X" % (where, machine), pe.machine, machine, hexa=True)
    check_eq("%s: PE32%s optional header (magic 0x%X)" % (where, "+" * (magic == 0x20B), magic),
             pe.magic, magic, hexa=True)
    if machine == 0x14C:
        check_eq("%s: subsystem version 4.0" % where, pe.subsystem_version, (4, 0))
        check("%s: %s is at most %d bytes" % (where, os.path.basename(path), SIZE_LIMIT),
              len(pe.data) <= SIZE_LIMIT, "%d bytes" % len(pe.data))
    return pe, attempt("%s: resource section decodes" % where, pe.resources)


def check_exes(exe, x64, compiled, icon):
    """The x86 setup.exe: headers, size, resources as compiled, imports; then, given x64, the
    x64 one: headers and the resources of the x86 one."""
    pe, entries = check_pe("linked setup.exe", "exe", exe, 0x14C, 0x10B)
    if entries is not None and compiled is None:
        REPORT.skip("exe: resources as compiled", "no compiled resources")
    elif entries is not None:
        check_same_resources("exe", entries, compiled, "windres compiled")
    if entries is not None and icon is None:
        REPORT.skip("exe: icon images", "no icon")
    elif entries is not None:
        check_icon_resources(entries, icon, "exe")
    if pe is not None:
        group("x86 setup.exe: imports")
        got = attempt("x86 exe: import directory decodes", pe.imports)
        want = read(IMPORTS).decode("ascii").split() if os.path.exists(IMPORTS) else []
        if got is not None:
            diff = (["   + " + i for i in sorted(set(got) - set(want))]
                    + ["   - " + i for i in sorted(set(want) - set(got))])
            check("x86 exe: imports exactly as listed in tests/res/imports-x86.txt", got == want,
                  "%d imports, %d listed (+ added, - removed; review, then run check_resources.py "
                  "--write-imports %s)\n%s" % (len(got), len(want), exe, "\n".join(diff)))
    if x64:
        _, got = check_pe("x64 setup.exe", "x64 exe", x64, 0x8664, 0x20B)
        if got is not None and check("x64 exe: the x86 resources to compare with decode",
                                     entries is not None, "see linked setup.exe"):
            check_same_resources("x64 exe", got, entries, "in the x86 exe")


def main(argv):
    opts = dict(zip(argv[::2], argv[1::2]))
    if (len(opts) * 2 != len(argv) or not set(opts) <= {"--exe", "--x64", "--write-imports"}
            or ("--x64" in opts and "--exe" not in opts) or ("--write-imports" in opts and len(opts) > 1)):
        sys.stderr.write(__doc__[__doc__.index("Usage:"):__doc__.index("Last line:")])
        return 2
    if "--write-imports" in opts:
        pe = PE(read(opts["--write-imports"]))
        if pe.machine != 0x14C:
            sys.exit("%s is not an x86 executable" % opts["--write-imports"])
        with open(IMPORTS, "w", encoding="ascii", newline="\n") as f:
            f.write("".join(i + "\n" for i in pe.imports()))
        print("wrote " + IMPORTS)
        return 0
    names, setup_rc = check_header_and_setup_rc()
    no_windres = "i686-w64-mingw32-windres not installed"
    with tempfile.TemporaryDirectory(prefix="check_resources.") as tmp:
        if not WINDRES:
            REPORT.skip("language scripts", no_windres)
        scripts = check_scripts(tmp, names, setup_rc) if WINDRES else {}
        check_manifest()
        icon = check_icon(tmp)
        if WINDRES and icon:
            compiled = check_compiled(tmp, icon, scripts)
        else:
            compiled = REPORT.skip("compiled resources", "no icon" if WINDRES else no_windres)
        if "--exe" in opts:
            check_exes(opts["--exe"], opts.get("--x64"), compiled, icon)
    for name, (checks, failed) in GROUPS.items():
        if checks:          # a script that does not compile has no dialogs group
            REPORT.report("%s (%d checks)" % (name, checks),
                          ["%d of %d checks failed" % (failed, checks)] if failed else [])
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
