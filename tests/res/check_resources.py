#!/usr/bin/env python3
"""Host-side checks of the setup's resources (no Windows needed): res/resource.h, setup.rc, setup.manifest,
each lang_*.rc compiled on its own and read back as setup.exe holds it (its source for what compiling hides),
make_icon.py's icon, setup.rc compiled; with --exe, the x86 setup.exe (those resources, size, headers, the
imports of tests/res/imports-x86-gccN.txt for the compiler that built it: a new import is a
deliberate review); with --x64, the x64 one.

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
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
from pathlib import Path

from formats import (ERRORS, PE, PNG_SIGNATURE, RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_STRING,
                     find, icon_entries, need, parse_dialogex, parse_dib, parse_png, parse_res, string_table)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINDRES = shutil.which("i686-w64-mingw32-windres")
sys.path.insert(0, os.path.join(ROOT, "tests"))
import harness  # noqa: E402
# The runtime's imports differ by a few functions between mingw-w64 releases: one reviewed list
# per compiler.
RES = os.path.join(ROOT, "res")
IMPORTS = os.path.join(ROOT, "tests", "res", "imports-x86-gcc%s.txt" % harness.toolchain_major("x86"))
from expected_texts import DIALOG_TEXTS, KNOWN, LANGS, STRING_IDS  # noqa: E402

HEADER_IDS = {k: int(v, 0) for k, v in re.findall(r"(\w+)=(\w+)", """
    IDD_PROGRESS=1101 IDD_LANGUAGE=129 IDI_SETUP=128 IDC_PROGRESS_ICON=101 IDC_PROGRESS_TITLE=103
    IDC_PROGRESS_BAR=104 IDC_PROGRESS_STATUS=105 IDC_LANGUAGE_LIST=1000 AFX_IDS_APP_TITLE=57344
    IDS_OUT_OF_MEMORY=12 IDS_PACKAGE_NOT_FOUND=13 IDS_MISSING_RESOURCE=15 IDS_PLEASE_WAIT_DOWNLOAD=16
    IDS_THE_PRODUCT=17 IDS_DOWNLOADING_PACKAGE=18 IDS_VERIFYING_SIGNATURE=19 IDS_REQUIRES_PACKAGE=20
    IDS_NO_SIGNATURE_SUPPORT=21 IDS_NOT_TRUSTED=22 IDS_INVALID_PATH=23 IDS_CANCELLED=24 IDS_USAGE=37
    IDS_INVALID_MSI_VERSION=25 IDS_ADMIN_REQUIRED=26 IDS_DOWNLOADING_INSTMSI=27 IDS_INSTMSI_NOT_FOUND=28
    IDS_UPGRADE_FAILED=29 IDS_RESTART_PROMPT=30 IDS_INVALID_INSTMSI=31 IDS_INSTALL_ERROR=32
    IDS_UPGRADE_PROMPT=33 IDS_INVALID_OPERATION=34 IDS_NO_PACKAGE_FOR_OS=36""")}
# Win32 constants that the style expressions of the scripts may name.
CONSTANTS = {k: int(v, 0) for k, v in re.findall(r"(\w+)=(\w+)", """
    WS_POPUP=0x80000000 WS_CHILD=0x40000000 WS_VISIBLE=0x10000000 WS_CAPTION=0x00C00000 WS_BORDER=0x00800000
    WS_DLGFRAME=0x00400000 WS_VSCROLL=0x00200000 WS_HSCROLL=0x00100000 WS_SYSMENU=0x00080000 DS_3DLOOK=0x4
    WS_GROUP=0x00020000 WS_TABSTOP=0x00010000 DS_SETFONT=0x40 DS_MODALFRAME=0x80 DS_CENTER=0x800 SS_ICON=0x3
    DS_SHELLFONT=0x48 SS_LEFT=0x0 SS_LEFTNOWORDWRAP=0xC SS_NOPREFIX=0x80 BS_PUSHBUTTON=0x0
    BS_DEFPUSHBUTTON=0x1 CBS_DROPDOWNLIST=0x3 CBS_SORT=0x100""")}

DIALOG_STYLE = 0x90C008C4   # WS_POPUP|WS_VISIBLE|WS_CAPTION|DS_MODALFRAME|DS_CENTER|DS_SETFONT|DS_3DLOOK
# Per language, dialog id -> (rect, caption, controls of (id, class, style, (x, y, cx, cy), text or ordinal)).
DIALOGS = {lang: {
    1101: ((0, 0, 253, 75), pcap, [(101, "static", 0x50000003, (7, 7, 20, 20), ("ord", 128)),
                                   (103, "static", 0x50020000, (31, 7, 215, 28), ""),
                                   (105, "static", 0x50020000, (7, 40, 239, 12), ""),
                                   (104, "msctls_progress32", 0x50800000, (7, 56, 182, 10), ""),
                                   (2, "button", 0x50010000, (196, 54, 50, 14), pcancel)]),
    129: ((0, 0, 186, 47), lcap, [(1000, "combobox", 0x50210103, (7, 7, 172, 50), ""),
                                  (1, "button", 0x50010001, (35, 26, 50, 14), lok),
                                  (2, "button", 0x50010000, (101, 26, 50, 14), lcancel)])}
    for lang, (lcap, lok, lcancel, pcap, pcancel) in DIALOG_TEXTS.items()}

ICON_LAYOUT = sorted([(s, 4) for s in (32, 16)] + [(s, 8) for s in (64, 48, 32, 24, 20, 16)]
                     + [(s, 32) for s in (256, 128, 64, 48, 32, 24, 20, 16)])
# (size, bits) of the images stored as PNG, which Windows Vista and later read. Every other image stays
# a bitmap: an older system may choose it (Windows XP draws no PNG, and takes 48 px for its tile view).
ICON_PNG = {(256, 32), (128, 32), (64, 32)}
SIZE_LIMIT = 100 * 1024
INSERT = re.compile(r"%\d+(?:![^!]*!)?")            # FormatMessage's inserts: %1, %1!d!

# Checks are counted by group (one language's strings, the icon, ...): a group is one case of the
# harness's report, passing when every check in it does. A failed check is printed with its details.
REPORT = harness.Report()
CURRENT = [None, 0, 0]          # the group, its checks, its failed checks


def group(name):
    """Reports the group begun before and begins the group name (None: after the last)."""
    done, count, failed = CURRENT
    if count:
        REPORT.check("%s (%d checks)" % (done, count), not failed, "%d of %d checks failed" % (failed, count))
    CURRENT[:] = [name, 0, 0]


def check(name, ok, detail=""):
    CURRENT[1:] = CURRENT[1] + 1, CURRENT[2] + (not ok)
    if not ok:
        print("FAIL: %s: %s%s" % (CURRENT[0], name, (": " + detail) if detail else ""))
    return ok


def check_eq(name, got, want):
    # Numbers show in hex where the check is about a hex value or a style.
    shown = tuple("0x%X" % v if isinstance(v, int) and ("0x" in name or "style" in name) else repr(v)
                  for v in (got, want))
    form = "\n   got  %s\n   want %s" if len("".join(shown)) > 60 else "got %s, want %s"
    return check(name, got == want, form % shown)


def checks(prefix, rows, eq=False):
    """Rows as the checks "prefix what": (what, ok[, detail]), or with eq (what, got, want)."""
    for what, *row in rows:
        (check_eq if eq else check)(prefix + what, *row)


def attempt(name, fn, *args):
    """fn(*args) as the check `name`: its value, or None when it raises a decoding error."""
    try:
        value = fn(*args)
    except ERRORS + (OSError, ET.ParseError) as e:
        return check(name, False, str(e)) or None
    return check(name, True) and value


def windres(source, tmp):
    """The resources windres compiles from source, its includes found in res/ and tmp."""
    out = os.path.join(tmp, os.path.basename(source) + ".res")
    r = subprocess.run([WINDRES, "-I", RES, "-I", tmp, "-i", source, "-o", out, "-O", "res"],
                       capture_output=True, text=True)
    need(r.returncode == 0, r.stderr.strip() or "exit status %d" % r.returncode)
    return parse_res(Path(out).read_bytes())


def check_sources():
    """resource.h, setup.rc, setup.manifest; returns resource.h's names and setup.rc's text."""
    group("resource.h")
    text = Path(RES, "resource.h").read_bytes().decode("ascii")
    names = {k: int(v, 0) for k, v in re.findall(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(\S+)", text, re.M)}
    checks("resource.h ", [("defines %s as %d" % (k, v), names.get(k) == v, "found %r" % (names.get(k),))
                           for k, v in sorted(HEADER_IDS.items())])
    check("resource.h guards AFX_IDS_APP_TITLE",
          re.search(r"#\s*ifndef\s+AFX_IDS_APP_TITLE\s*\n\s*#\s*define\s+AFX_IDS_APP_TITLE", text))
    group("setup.rc")
    text = Path(RES, "setup.rc").read_bytes().decode("utf-8")
    patterns = [("includes lang_%s.rc" % lang, r'#\s*include\s+"lang_%s\.rc"' % lang) for lang in LANGS]
    checks("setup.rc ", [(what, re.search(pattern, text, re.M)) for what, pattern in patterns + [
        ("starts with #pragma code_page(65001)", r"\A\ufeff?[ \t]*#pragma code_page\(65001\)\s*?$"),
        ("has icon IDI_SETUP from setup.ico", r'^\s*IDI_SETUP\s+ICON\s+"setup\.ico"'),
        ("has the manifest as type 24, id 1", r'^\s*1\s+(24|RT_MANIFEST)\s+"setup\.manifest"')]])
    group("manifest")
    root = attempt("manifest is well-formed XML", lambda: ET.parse(Path(RES, "setup.manifest")).getroot())
    if root is not None:
        tags = lambda end: [e for e in root.iter() if e.tag.endswith(end)]  # noqa: E731
        level = tags("}requestedExecutionLevel")
        attrs = level[0].attrib if level else {}
        checks("", [("manifest has one requestedExecutionLevel", len(level) == 1),
                    ("execution level asInvoker", attrs.get("level") == "asInvoker"),
                    ("uiAccess false", attrs.get("uiAccess") == "false"),
                    ("dpiAware true (2005 namespace)", ["true"] == [(e.text or "").strip() for e in tags(
                        "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")]),
                    ("manifest has no dependency (no common controls 6)", not tags("}dependency"))])
    return names, text


def check_scripts(tmp, names, setup_rc):
    """Each language script compiled on its own, and as written; returns {lang: resources} as compiled."""
    # A script is compiled with what setup.rc's preprocessor lines give it (code page, headers,
    # fallback names), without the other scripts.
    prelude = "\n".join(re.findall(r"^[ \t]*#(?!.*lang_).*", setup_rc, re.M))
    scripts, en = {}, {}
    for lang in LANGS:      # English first: the others keep its inserts
        group("%s: string table" % lang)
        rc = "lang_%s.rc" % lang
        raw = Path(RES, rc).read_bytes()
        check(rc + " has no byte-order mark", not raw.startswith(b"\xef\xbb\xbf"))
        text = attempt(rc + " is UTF-8", raw.decode, "utf-8") or raw.decode("utf-8", "replace")
        # windres keeps the last of two texts given one id: only the source shows the first.
        blocks = "".join(re.findall(r"^\s*STRINGTABLE\b.*?^\s*BEGIN\b(.*?)^\s*END\b", text, re.M | re.S))
        ids = attempt(rc + " names its string ids in resource.h or as numbers", lambda: [
            names[w] if w in names else int(w, 0) for w in re.findall(r'^\s*(\w+)\s*,?\s*L?"', blocks, re.M)])
        dups = sorted(i for i, n in collections.Counter(ids or []).items() if n > 1)
        check(rc + " has no duplicate string ids", not dups, str(dups))
        Path(tmp, "only_" + rc).write_text('%s\n#include "%s"\n' % (prelude, rc), encoding="utf-8")
        entries = attempt(rc + " compiles", windres, os.path.join(tmp, "only_" + rc), tmp)
        strings = entries and attempt(rc + " string table decodes", string_table, entries)
        if not strings:
            continue
        scripts[lang], en = entries, strings if lang == "en" else en
        langs, langid = sorted({e[2] for e in entries}), LANGS[lang]
        other = sorted({e[0] for e in entries} - {("ord", RT_STRING), ("ord", RT_DIALOG)})
        missing, extra = sorted(set(STRING_IDS) - set(strings)), sorted(set(strings) - set(STRING_IDS))
        checks(rc + " ", [("LANGUAGE is 0x%04X" % langid, langs == [langid], " ".join(map(hex, langs))),
                          ("holds string tables and dialogs only", not other, str(other)),
                          ("has every string id", not missing, "missing %s" % missing),
                          ("has no unknown string id", not extra, "extra %s" % extra)])
        for sid in [i for i in STRING_IDS if i in strings]:
            s, tag = strings[sid], "%s %d " % (lang, sid)
            if sid in en:
                check_eq(tag + "keeps the English inserts",
                         *[sorted(set(INSERT.findall(x))) for x in (s, en[sid])])
            # A stray '%' is one that FormatMessage would read as something other than our inserts.
            checks(tag, [(what, ok, repr(s)) for what, ok in [
                ("has no stray %", "%" not in INSERT.sub("", s)), ("is not empty", s.strip() != ""),
                ("has no control characters but line feeds", all(c == "\n" or c >= " " for c in s))]])
        checks(lang + " ", [("%d text" % i, strings.get(i), t) for i, t in KNOWN.get(lang, {}).items()], True)
        if lang == "sl" and en:
            same = [sid for sid in STRING_IDS if strings.get(sid) == en.get(sid)]
            check("sl texts are translated", not same, "same as English: %s" % same)
        group("%s: dialogs" % lang)
        check_dialogs(lang, rc, entries, strings, text, names)
    return scripts


def check_dialogs(lang, rc, entries, strings, text, names):
    def style_value(expr):
        """The value of a style expression such as "WS_CHILD | WS_VISIBLE | 0x4"."""
        words = re.findall(r"\w+", expr)
        unknown = [w for w in words if not w[0].isdigit() and w not in CONSTANTS]
        need(not unknown, "unknown names %s in %r" % (unknown, expr))
        return functools.reduce(lambda a, w: a | (int(w, 0) if w[0].isdigit() else CONSTANTS[w]), words, 0)
    dialogs = {}
    # The compiler adds WS_CAPTION to a dialog with a caption, WS_CHILD | WS_VISIBLE to every
    # control: the styles that the script writes must be the whole ones all the same.
    control = r'^\s*CONTROL\s+(?:"(?:[^"]|"")*"|\w+)\s*,\s*\w+\s*,\s*"[^"]*"\s*,\s*([^,]+),'
    written = attempt(rc + " style expressions read", lambda: {      # id -> [its STYLE, each CONTROL's]
        names.get(did, did): [style_value(e) for e in re.findall(r"^\s*STYLE\s+([^\n]+)", body, re.M)
                              + re.findall(control, body, re.M)]
        for did, body in re.findall(r"^\s*(\w+)\s+DIALOGEX\b(.*?)^\s*END\b", text, re.M | re.S)}) or {}
    for did, (rect, caption, controls) in DIALOGS[lang].items():
        found, where = find(entries, RT_DIALOG, ("ord", did)), "%s dialog %d " % (rc, did)
        got = dialogs[did] = check("%s has dialog %d" % (rc, did), len(found) == 1) and attempt(
            where + "decodes", parse_dialogex, found[0][3])
        if not got:
            continue
        size, face, weight, italic = got["font"]
        rows = [("rect", got["rect"], rect), ("style 0x%08X" % DIALOG_STYLE, got["style"], DIALOG_STYLE),
                ("exstyle 0", got["exstyle"], 0), ("caption", got["caption"], caption),
                ("has no menu, the default class", (got["menu"], got["class"]), ("", "")),
                ("font MS Shell Dlg 8", (size, face), (8, "MS Shell Dlg")),
                ("font normal, not italic", (weight in (0, 400), bool(italic)), (True, False)),
                ("has %d controls" % len(controls), len(got["controls"]), len(controls))]
        for n, (want, have) in enumerate(zip(controls, got["controls"])):
            rows += [("control #%d (id %d) %s" % (n + 1, want[0], what), have[i], (want + (0,))[i])
                     for i, what in enumerate(("id", "class " + want[1], "style 0x%08X" % want[2],
                                               "position", "text", "exstyle 0"))]
        styles = [got["style"]] + [c[2] for c in got["controls"]]
        checks(where, rows + [("writes every style in full", ["0x%08X" % v for v in written.get(did, [])],
                               ["0x%08X" % v for v in styles])], eq=True)
    # The progress window's template caption is the application title.
    check(lang + " progress caption equals its application title",
          (dialogs.get(1101) or {}).get("caption") == strings.get(57344))
    # PUSHBUTTON, LTEXT and the like add styles of their own: each control's are written out.
    check_eq(rc + " writes its controls as CONTROL statements",
             len(re.findall(r"^\s*CONTROL\b", text, re.M)), sum(len(d[2]) for d in DIALOGS[lang].values()))


def check_icon(tmp):
    """Runs make_icon.py into tmp/setup.ico and checks it; returns its bytes by (size, bits) and art."""
    group("icon")
    script, out, again = Path(RES, "icon", "make_icon.py"), Path(tmp, "setup.ico"), Path(tmp, "again.ico")
    t0 = time.monotonic()
    r = subprocess.run([sys.executable, script, out], capture_output=True, text=True)
    elapsed = time.monotonic() - t0
    if not check("make_icon.py runs", r.returncode == 0, r.stderr.strip()):
        return None
    check("make_icon.py finishes within 3 s", elapsed < 3.0, "%.2f s" % elapsed)
    subprocess.run([sys.executable, script, again], capture_output=True)
    check("make_icon.py output is the same on every run",
          again.exists() and again.read_bytes() == out.read_bytes())
    images = attempt("icon file parses", icon_entries, out.read_bytes())
    try:
        draw = runpy.run_path(script, run_name="make_icon")["draw"]
        art = functools.lru_cache(None)(lambda size: [[tuple(px) for px in row] for row in draw(size)])
    except Exception as err:  # reported as a failed check (and no art to compare with), not a crash
        art = check("make_icon.py loads", False, str(err)) or None
    if images is not None:
        check_images(images, "icon", art)
    return {(e["w"], e["bits"]): e["blob"] for e in images or []}, art


def check_images(images, where, art):
    """An icon's images: the 16 sizes and depths, PNG where expected, headers, transparency, the artwork."""
    check_eq(where + " holds the 16 expected images", sorted((e["w"], e["bits"]) for e in images),
             ICON_LAYOUT)
    check_eq(where + ": exactly the 32-bit images of 64 px and up are PNG",
             sorted((e["w"], e["bits"]) for e in images if e["blob"][:8] == PNG_SIGNATURE), sorted(ICON_PNG))
    for e in images:
        size, bits, blob, png = e["w"], e["bits"], e["blob"], (e["w"], e["bits"]) in ICON_PNG
        tag, square = "%s %dx%d %d-bit " % (where, size, size, bits), (size, size)
        check(tag + "is square", e["w"] == e["h"])
        check(tag + "directory entry", e["planes"] == 1 and e["colours"] == (16 if bits == 4 else 0),
              "planes %d colours %d" % (e["planes"], e["colours"]))
        if not check(tag + "stored as " + ("PNG" if png else "a bitmap (DIB)"),
                     blob.startswith(PNG_SIGNATURE if png else b"\x28\0\0\0")):
            continue
        if png:
            header = attempt(tag + "PNG header", parse_png, blob, True)
            if header is not None:
                check(tag + "PNG header: %dx%d, 8-bit RGBA (%d bits per pixel), not interlaced"
                      % (size, size, bits), header == (size, size, bits, 8, 6, 0),
                      "%dx%d, %d bits per pixel, depth %d, colour type %d, interlace %d" % header)
            w, h, pixels = header and attempt(tag + "PNG decodes", parse_png, blob) or (0, 0, None)
            if pixels is not None and not check_eq(tag + "PNG decodes to %dx%d" % square, (w, h), square):
                pixels = None
            clear = pixels and [[px[3] == 0 for px in row] for row in pixels]
        else:
            pixels, clear = attempt(tag + "DIB is consistent", parse_dib, blob, size, bits) or (None, None)
        if pixels is None:
            continue
        # Opaque: a PNG's pixels of alpha 255, a bitmap's that its AND mask does not clear.
        solid = [[px[3] == 255 if png else not m for px, m in zip(prow, mrow)]
                 for prow, mrow in zip(pixels, clear)]
        check(tag + "has transparent and opaque pixels",
              clear[0][0] and any(map(any, solid)) and solid[size // 2][size // 2])
        cells = [(px, m) for prow, mrow in zip(pixels, clear) for px, m in zip(prow, mrow)]
        if not png and bits == 32:
            wrong = sum(1 for px, m in cells if px[3] in (0, 255) and (px[3] == 0) != m)
            check(tag + "AND mask agrees with alpha", wrong == 0, "%d pixels" % wrong)
        elif not png:
            # The colour of a masked pixel is XORed onto the background: it must be black.
            bad = sum(1 for px, m in cells if m and px != (0, 0, 0))
            check(tag + "transparent pixels are black in the colour image", bad == 0, "%d pixels" % bad)
        if bits == 32 and art is not None:
            check(tag + "holds the artwork drawn at %d px" % size, pixels == art(size))


def check_icon_resources(entries, icon, where):
    """RT_ICON images and icon group 128: the bytes of the .ico, then the checks of its images."""
    groups = find(entries, RT_GROUP_ICON, ("ord", 128))
    check_eq(where + ": 16 icon images", len(find(entries, RT_ICON)), 16)
    if not check_eq(where + ": one icon group 128", len(groups), 1):
        return
    stored = {e[1][1]: e[3] for e in find(entries, RT_ICON) if e[1][0] == "ord"}
    images = attempt(where + ": icon group 128 decodes", icon_entries, groups[0][3], stored) or []
    check_eq(where + ": icon group 128 lists 16 images", len(images), 16)
    for e in images:
        tag = "%s: icon %dx%d %d-bit " % (where, e["w"], e["w"], e["bits"])
        if check(tag + "is image %d" % e["at"], e["blob"] is not None):
            check_eq(tag + "entry gives its length", e["length"], len(e["blob"]))
            check(tag + "bytes as drawn", e["blob"] == icon[0].get((e["w"], e["bits"])))
    check_images([e for e in images if e["blob"] is not None], where + ": icon", icon[1])


def check_compiled(tmp, icon, scripts):
    group("compiled resources")
    entries = attempt("windres compiles setup.rc", windres, os.path.join(RES, "setup.rc"), tmp)
    if entries is None:
        return None
    check_icon_resources(entries, icon, "compiled")
    manifest = find(entries, RT_MANIFEST, ("ord", 1))
    if check_eq("compiled: one manifest, type 24 id 1", len(manifest), 1):
        check("compiled: manifest bytes", manifest[0][3] == Path(RES, "setup.manifest").read_bytes())
    # Its strings and dialogs must be those that each script's groups checked, byte for byte.
    texts = [e for e in entries if e[0] not in [("ord", t) for t in (RT_ICON, RT_GROUP_ICON, RT_MANIFEST)]]
    if check("compiled: every language script compiled on its own", len(scripts) == len(LANGS),
             "see the groups of %s" % sorted(set(LANGS) - set(scripts))):
        check_same_resources("compiled", texts, sum(scripts.values(), []), "the language scripts")
    return entries


def check_same_resources(where, got, want, other):
    def key(e):
        return tuple("#%d" % v[1] if isinstance(v, tuple) else '"%s"' % v for v in e[:2]) + (e[2],)
    g, w = collections.Counter(map(key, got)), collections.Counter(map(key, want))
    check("%s: the same resources as %s" % (where, other), g == w, "%d against %d; only here: %s; "
          "only there: %s" % (len(got), len(want), sorted(g - w), sorted(w - g)))
    there = {key(e): e[3] for e in want}
    differ = sorted(key(e) for e in got if key(e) in there and e[3] != there[key(e)])
    check("%s: every resource holds the bytes %s" % (where, other), not differ, "differ: %s" % differ[:5])


def check_exes(exe, x64, compiled, icon):
    def check_pe(name, where, path, machine, magic, kind):
        group(name)
        pe = attempt("%s: %s reads as a PE file" % (where, path), lambda: PE(Path(path).read_bytes()))
        if pe is None:
            return None, None
        checks(where + ": ", [("machine 0x%X" % machine, pe.machine, machine),
                              ("%s optional header (magic 0x%X)" % (kind, magic), pe.magic, magic)], eq=True)
        if machine == 0x14C:        # the x86 file, which runs on the oldest systems too
            check_eq(where + ": subsystem version 4.0", pe.subsystem_version, (4, 0))
            check("%s: %s is at most %d bytes" % (where, os.path.basename(path), SIZE_LIMIT),
                  len(pe.data) <= SIZE_LIMIT, "%d bytes" % len(pe.data))
        return pe, attempt(where + ": resource section decodes", pe.resources)
    pe, entries = check_pe("linked setup.exe", "exe", exe, 0x14C, 0x10B, "PE32")
    if entries is not None:
        if compiled is None:
            REPORT.skip("exe: resources as compiled", "no compiled resources")
        else:
            check_same_resources("exe", entries, compiled, "windres compiled")
        if icon is None:
            REPORT.skip("exe: icon images", "no icon")
        else:
            check_icon_resources(entries, icon, "exe")
    if pe is not None:
        group("x86 setup.exe: imports")
        got = attempt("x86 exe: import directory decodes", pe.imports)
        want = Path(IMPORTS).read_text("ascii").split() if os.path.exists(IMPORTS) else []
        if got is not None:
            diff = (["   + " + i for i in sorted(set(got) - set(want))]
                    + ["   - " + i for i in sorted(set(want) - set(got))])
            check("x86 exe: imports exactly as listed in " + os.path.relpath(IMPORTS, ROOT), got == want,
                  "%d imports, %d listed (+ added, - removed; review, then run check_resources.py "
                  "--write-imports %s)\n%s" % (len(got), len(want), exe, "\n".join(diff)))
    if x64:
        _, got = check_pe("x64 setup.exe", "x64 exe", x64, 0x8664, 0x20B, "PE32+")
        if got is not None and check("x64 exe: the x86 resources to compare with decode", entries is not None,
                                     "see linked setup.exe"):
            check_same_resources("x64 exe", got, entries, "in the x86 exe")


def main(args):
    opts = dict(zip(args[::2], args[1::2]))
    if len(args) % 2 or sorted(args[::2]) not in ([], ["--exe"], ["--exe", "--x64"], ["--write-imports"]):
        sys.stderr.write(__doc__[__doc__.index("Usage:"):__doc__.index("Last line:")])
        return 2
    if "--write-imports" in opts:
        pe = PE(Path(opts["--write-imports"]).read_bytes())
        if pe.machine != 0x14C:
            sys.exit("%s is not an x86 executable" % opts["--write-imports"])
        Path(IMPORTS).write_text("".join(i + "\n" for i in pe.imports()), encoding="ascii", newline="\n")
        print("wrote " + IMPORTS)
        return 0
    names, setup_rc = check_sources()
    why = None if WINDRES else "i686-w64-mingw32-windres not installed"      # REPORT.skip returns None
    with tempfile.TemporaryDirectory(prefix="check_resources.") as tmp:
        scripts = REPORT.skip("language scripts", why) if why else check_scripts(tmp, names, setup_rc)
        icon = check_icon(tmp)
        why = why or (None if icon else "no icon")
        compiled = REPORT.skip("compiled resources", why) if why else check_compiled(tmp, icon, scripts)
        if "--exe" in opts:
            check_exes(opts["--exe"], opts.get("--x64"), compiled, icon)
    group(None)
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
