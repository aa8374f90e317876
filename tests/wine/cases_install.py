"""The install run of setup.exe against a real and a recording installer engine.

Every case runs setup.exe without arguments (or with /a) and looks at its full exit status,
at what the user sees (progress window, language dialog, message boxes) and at what reached
the engine or the machine.

The engine: a copy of the template prefix registers engine_shim.c's msi.dll through
HKLM\\...\\Installer "InstallerLocation". The shim forwards every call to Wine's own engine,
records each call with its arguments in shim.log, can hold the first MsiOpenDatabaseW until
the test has looked at the progress window (the real install takes ~60 ms), and can return
scripted results for MsiInstallProductW and MsiApplyPatchW instead of forwarding them. A
second build lacks MsiReinstallProductW. Both carry a file version of 5.0: setup.exe reads
the registered engine's version first and would try to upgrade one below 2.0. The copy
prefers native msi.dll
(DllOverrides msi=native,builtin), without which Wine would load its builtin engine under
the shim's path; Wine's own engine is still the builtin one, as it is loaded from the system
directory where only Wine's placeholder lies.

Further executables come from tables sources below (variants.build_variants); none of their
rows has a download address, so nothing is ever fetched.
"""
import json
import os
import shutil
import subprocess
import sys
import time

import variants

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import expected_texts as texts  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))

PRODUCT_CODE = "{6F1C2B3A-58D4-4E0B-9A71-3C2D4E5F6A01}"
PRODUCT_FILE = ("Program Files", "Quorvex Lumora", "lumora.txt")
PACKAGE_WXS = variants.package_wxs("Quorvex Lumora", PRODUCT_CODE, "{6F1C2B3A-58D4-4E0B-9A71-3C2D4E5F6A02}",
                                   "{6F1C2B3A-58D4-4E0B-9A71-3C2D4E5F6A03}", "5.1", ("Quorvex Lumora",),
                                   [("Readme", "lumora.txt", "lumora.txt")], cabinet="lumora.cab")

# What the user must see.
PLEASE_WAIT = {lang: texts.as_format(lang, 16) % "Quorvex Lumora" for lang in ("en", "sl", "it", "sq")}
LANGUAGE_CAPTION = {lang: texts.DIALOG_TEXTS[lang][0] for lang in ("en", "sl", "it")}
UPGRADE_FAILED = {"en": texts.text("en", 29)}
# Wine's msimsg.dll holds no strings, so an engine error always shows the setup's own text.
INSTALL_ERROR = {lang: texts.as_format(lang, 32) for lang in ("en", "sl")}

VERSION_QUERY = "SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'"
CODE_QUERY = "SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'"
REINSTALL_PACKAGE = "REINSTALL=ALL REINSTALLMODE=vomus"
REINSTALL_PATCH = "REINSTALL=ALL REINSTALLMODE=omus"
PROPERTIES = 'PROPA=1 PROPB="x y"'

IDOK, IDCANCEL = 1, 2
IDC_PROGRESS_TITLE = 103
IDC_LANGUAGE_LIST = 1000
SLOVENIAN, ENGLISH = "Slovenščina", "English"

T_WINDOW = 20       # seconds for a window or a held engine call to turn up
T_RUN_MS = 30000    # runexit ends setup.exe after this


# --- tables of the further executables ----------------------------------------------------

def language_row(lang_id, name, package=None, patch=None):
    c = variants.c_string
    return ("    {%d, %s, {nullptr, %s, nullptr, nullptr}, {nullptr, %s, nullptr, nullptr}},\n"
            % (lang_id, c(name), c(package), c(patch)))


def tables(rows):
    """C++ tables: rows of (operation, product, properties, ui level, language rows)."""
    c = variants.c_string
    text = "namespace {\n"
    for i, row in enumerate(rows):
        text += "const LanguageEntry kLanguages%d[] = {\n" % i
        text += "".join(row[4])
        text += "    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},\n};\n"
    text += "const PackageEntry kPackages[] = {\n"
    for i, (operation, product, properties, level, _) in enumerate(rows):
        # No download address and no expected version: the file beside the setup is used.
        text += ("    {nullptr, %s, %s, %s, nullptr, 0, %d, kLanguages%d},\n"
                 % (c(operation), c(product), c(properties), level, i))
    text += "    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},\n};\n}  // namespace\n"
    text += ('const SetupConfig setupConfig = {u"https://127.0.0.1:9/MSI/2.0/", u"InstMSIA.exe", '
             'u"InstMSIW.exe", 200, kPackages};\n')
    return text


PATCH_ROWS = [  # (operation, patch file, ui level, command line the engine must get)
    ("MINPATCH", "Lumora.min.msp", 2, REINSTALL_PATCH),
    ("MAJPATCH", "Lumora.maj.msp", 3, None),
    (None, "Lumora.null.msp", 4, REINSTALL_PATCH),
    ("default", "Lumora.default.msp", 0x23, REINSTALL_PATCH),
]

VARIANTS = {
    # Two products, each in Slovenian and English (table order: Slovenian first).
    "install_languages": tables([
        ("INSTALL", "Quorvex Lumora", None, 5,
         [language_row(1060, SLOVENIAN, "Lumora.sl.msi"),
          language_row(1033, ENGLISH, "Lumora.en.msi")]),
        ("INSTALL", "Quorvex Lumora Extra", None, 5,
         [language_row(1060, SLOVENIAN, "Extra.sl.msi"),
          language_row(1033, ENGLISH, "Extra.en.msi")]),
    ]),
    # Reinstall of what is installed: with a property string, then without.
    "install_update": tables([
        ("installupd", "Quorvex Lumora", PROPERTIES, 3,
         [language_row(1060, SLOVENIAN, "Lumora.Win32.msi")]),
        ("INSTALLUPD", "Quorvex Lumora", None, 4,
         [language_row(1060, SLOVENIAN, "Lumora.Win32.msi")]),
    ]),
    # Patches only (no package in the x86 column), every keyword, each row its UI level.
    "install_patches": tables([
        (op, "Quorvex Lumora", None, level, [language_row(1060, SLOVENIAN, None, patch)])
        for op, patch, level, _ in PATCH_ROWS
    ]),
    # Two products one after the other.
    "install_two": tables([
        ("INSTALL", "Quorvex Lumora", None, 5, [language_row(1060, SLOVENIAN, "Lumora.Win32.msi")]),
        ("INSTALL", "Quorvex Lumora Second", None, 5, [language_row(1060, SLOVENIAN, "Second.msi")]),
    ]),
}


def add_cases(suite):
    group = InstallRun(suite)
    cases = [
        ("install: built-in tables and Wine's engine install Lumora.Win32.msi", group.system_engine),
    ]
    for lang in ("en", "sl", "it", "sq"):
        cases.append(("install: real engine through the shim, progress window in %s" % lang,
                      group.real_engine, lang))
    cases += [
        ("install: engine without MsiReinstallProductW gives the upgrade-failed box and 1603",
         group.missing_export),
        ("install: language dialog (en) preselects English, the pick installs Lumora.sl.msi "
         "and preselects Slovenian for the next product", group.languages, "en",
         [(ENGLISH, SLOVENIAN), (SLOVENIAN, None)], ["Lumora.sl.msi", "Extra.sl.msi"]),
        ("install: language dialog (sl) preselects Slovenian, the pick installs Lumora.en.msi "
         "and preselects English for the next product", group.languages, "sl",
         [(SLOVENIAN, ENGLISH), (ENGLISH, None)], ["Lumora.en.msi", "Extra.en.msi"]),
        ("install: language dialog (it) preselects nothing and OK takes the first row",
         group.languages, "it", [(None, None), (SLOVENIAN, None)],
         ["Lumora.sl.msi", "Extra.sl.msi"]),
        ("install: Cancel in the language dialog ends with 1602 and no message",
         group.language_cancel),
        ("install: INSTALLUPD with the product absent passes the properties, then an empty "
         "command line", group.update, False),
        ("install: INSTALLUPD with the product installed passes the properties, then "
         + REINSTALL_PACKAGE, group.update, True),
        ("install: /a passes ' ACTION=ADMIN'", group.admin, "/a", " ACTION=ADMIN"),
        ('install: /a "C:\\Some Dir" passes the quoted TARGETDIR', group.admin,
         '/a "C:\\Some Dir"', ' ACTION=ADMIN TARGETDIR="C:\\Some Dir"'),
        ("install: /a C:\\Some Dir unquoted takes the target up to the blank", group.admin,
         "/a C:\\Some Dir", ' ACTION=ADMIN TARGETDIR="C:\\Some"'),
        ("install: patch rows: keywords, command lines and UI levels", group.patches, "", None, 0),
        ("install: patch rows with /a: network image, no product", group.patches, "/a", None, 1),
        ('install: patch rows with /a "C:\\Some Dir": the folder as product', group.patches,
         '/a "C:\\Some Dir"', "C:\\Some Dir", 1),
        ("install: both rows are handled when the first gives 0", group.two_rows),
        ("install: 3010 from the engine ends the run with 3010, silently, before the second row",
         group.stops_silently, 3010),
        ("install: engine result 3 shows the message for 1619 and ends with 3",
         group.engine_error, "en", 3, 1619),
        ("install: engine result 1620 shows its message (sl) and ends with 1620",
         group.engine_error, "sl", 1620, 1620),
    ]
    cases = [c for c in cases if suite.wanted(c[0])]
    if not cases:
        return
    try:
        group.prepare()
        for name, body, *args in cases:
            suite.case(name, body, *args)
    finally:
        group.finish()


def list_difference(what, got, want):
    """None when equal, else a short text naming the entries that differ."""
    if got == want:
        return None
    parts = []
    for i in range(max(len(got), len(want))):
        g = got[i] if i < len(got) else "(none)"
        w = want[i] if i < len(want) else "(none)"
        if g != w:
            parts.append("#%d got %r, expected %r" % (i + 1, g, w))
    return "%s differ (%d calls, expected %d): %s" % (what, len(got), len(want), "; ".join(parts))


class InstallRun:
    def __init__(self, suite):
        self.s = suite
        self.runner = sys.modules[type(suite).__module__]
        self.root = os.path.join(suite.work, "install")
        self.tools = os.path.join(self.root, "bin")
        self.engines = {
            "shim": os.path.join(self.root, "engine"),
            "noreinstall": os.path.join(self.root, "engine-noreinstall"),
        }
        self.prefix = os.path.join(self.root, "prefix")
        self.template = suite.prefix
        self.engine = None
        self.exes = {}

    # --- environment ------------------------------------------------------------------

    def fail_setup(self, what):
        raise self.runner.SetupError(what)

    def prepare(self):
        s = self.s
        t0 = time.time()
        os.makedirs(self.tools, exist_ok=True)
        self.build_engines()
        for name, libs in (("product_state", ["-lmsi"]), ("dlgtool", ["-luser32"])):
            s.run(["i686-w64-mingw32-gcc", "-municode", "-O2", "-s", "-Wall",
                   "-o", os.path.join(self.tools, name + ".exe"), os.path.join(HERE, name + ".c")]
                  + libs, 120, what="compiling %s.c" % name)
        self.build_package()
        try:
            built = variants.build_variants(VARIANTS)
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            self.fail_setup(str(e))
        self.exes = dict(built, builtin=s.setup_plain)
        self.make_dirs()
        s.log("install: tools, package and variants ready after %.1f s" % (time.time() - t0))
        # One copy of the template prefix for the whole group; cases that install the
        # product for real remove it again.
        s.run(["cp", "-a", self.template, self.prefix], 300, what="copying the prefix")
        s.prefix = self.prefix
        s.wine(["reg", "add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "msi", "/d",
                "native,builtin", "/f"])
        s.log("install: prefix copy ready after %.1f s" % (time.time() - t0))

    def finish(self):
        s = self.s
        if s.prefix == self.prefix:
            s.stop_wineserver()
            s.prefix = self.template
        if not s.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def build_engines(self):
        s = self.s
        res = os.path.join(self.root, "engine_shim.res.o")
        s.run(["i686-w64-mingw32-windres", "-O", "coff", "-o", res,
               os.path.join(HERE, "engine_shim.rc")], 120, what="windres engine_shim.rc")
        full_def = os.path.join(HERE, "engine_shim.def")
        short_def = os.path.join(self.root, "engine_shim_noreinstall.def")
        with open(full_def) as f, open(short_def, "w") as g:
            g.writelines(l for l in f if "MsiReinstallProductW" not in l)
        for kind, deffile in (("shim", full_def), ("noreinstall", short_def)):
            os.makedirs(self.engines[kind], exist_ok=True)
            s.run(["i686-w64-mingw32-gcc", "-shared", "-O2", "-s", "-Wall",
                   "-o", os.path.join(self.engines[kind], "msi.dll"),
                   os.path.join(HERE, "engine_shim.c"), deffile, res, "-luser32"],
                  120, what="compiling engine_shim.c (%s)" % kind)

    def build_package(self):
        s = self.s
        pkg = os.path.join(self.root, "package")
        os.makedirs(pkg, exist_ok=True)
        with open(os.path.join(pkg, "lumora.txt"), "w") as f:
            f.write("Quorvex Lumora 5.1\n")
        with open(os.path.join(pkg, "Lumora.wxs"), "w") as f:
            f.write(PACKAGE_WXS)
        self.package = os.path.join(pkg, "Lumora.Win32.msi")
        p = subprocess.run(["wixl", "-o", self.package, "Lumora.wxs"], cwd=pkg, timeout=120,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
        if p.returncode != 0:
            self.fail_setup("wixl failed: %s" % p.stdout.decode(errors="replace")[-500:])

    def make_dirs(self):
        """One directory per executable: setup.exe and the files its rows name."""
        dummy = b"not a package: the engine's result is scripted\n"
        files = {
            "builtin": ["Lumora.Win32.msi"],
            "install_languages": ["Lumora.sl.msi", "Lumora.en.msi", "Extra.sl.msi", "Extra.en.msi"],
            "install_update": ["Lumora.Win32.msi"],
            "install_patches": [p for _, p, _, _ in PATCH_ROWS],
            "install_two": ["Lumora.Win32.msi", "Second.msi"],
        }
        self.dirs = {}
        for name, names in files.items():
            d = os.path.join(self.root, "run", name)
            os.makedirs(d, exist_ok=True)
            shutil.copyfile(self.exes[name], os.path.join(d, "setup.exe"))
            for n in names:
                if n == "Lumora.Win32.msi":
                    shutil.copyfile(self.package, os.path.join(d, n))
                else:
                    with open(os.path.join(d, n), "wb") as f:
                        f.write(dummy)
            self.dirs[name] = d

    def use_engine(self, kind):
        """Registers the engine: "system" (Wine's, as the template has it), "shim" or
        "noreinstall"."""
        if self.engine == kind:
            return
        location = ("C:\\windows\\system32" if kind == "system"
                    else self.runner.win_path(self.engines[kind]))
        self.s.wine(["reg", "add", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
                     "/v", "InstallerLocation", "/t", "REG_SZ", "/d", location, "/f"])
        self.engine = kind

    # --- helpers ----------------------------------------------------------------------

    def tool(self, name, args, lang="en", timeout=60):
        p = self.s.wine([self.runner.win_path(os.path.join(self.tools, name + ".exe"))] + args,
                        timeout=timeout, lang=lang, check=False)
        return p.returncode, p.stdout.decode("utf-8", errors="replace").strip()

    def product_state(self):
        rc, out = self.tool("product_state", ["query", PRODUCT_CODE])
        if rc != 0 or not out.lstrip("-").isdigit():
            self.fail_setup("product_state query failed (%d): %s" % (rc, out))
        return int(out)

    def remove_product(self, problems):
        """Uninstalls the product when it is there; reports a failure to do so."""
        if self.product_state() == -1:
            return
        rc, out = self.tool("product_state", ["remove", PRODUCT_CODE])
        state = self.product_state()
        if state != -1:
            problems.append("could not remove the product again (result %s, state %d)"
                            % (out, state))

    def installed_file(self):
        return os.path.join(self.prefix, "drive_c", *PRODUCT_FILE)

    def win(self, *parts):
        return self.runner.win_path(os.path.join(*parts))

    def wait_for(self, predicate, timeout, proc=None):
        """Bounded poll; gives up early when proc (runexit) has ended."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if predicate():
                return True
            if proc is not None and proc.poll() is not None:
                break
            time.sleep(0.02)
        return predicate()

    def setup_run(self, exe, args, lang, config, interact=None, engine="shim"):
        """Runs setup.exe of directory exe with the shim configured by config (a dict).

        interact(proc, problems) talks to the windows while it runs and returns True when
        the process should now end by itself; otherwise it is stopped. Returns (runexit's
        report, the engine calls without the load line, load lines, problems)."""
        self.use_engine(engine)
        shim = self.engines[engine] if engine != "system" else None
        if shim:
            for name in ("shim.log", "held", "release"):
                if os.path.exists(os.path.join(shim, name)):
                    os.remove(os.path.join(shim, name))
            with open(os.path.join(shim, "shim.cfg"), "w") as f:
                f.writelines("%s=%s\n" % kv for kv in config.items())
        problems = []
        proc, stopfile, _ = self.s.start_setup(os.path.join(self.dirs[exe], "setup.exe"), args,
                                               lang, timeout_ms=T_RUN_MS)
        ends = interact is None
        try:
            if interact:
                ends = interact(proc, problems)
        finally:
            if shim:
                open(os.path.join(shim, "release"), "w").close()
            res = self.s.end_setup(proc, stopfile, stop_now=not ends)
        if ends and res["ended"] != "self":
            problems.append("setup.exe did not end by itself within %d s (%s): a window left "
                            "open?" % (T_RUN_MS // 1000, res["ended"]))
        calls, loads = [], []
        if shim and os.path.exists(os.path.join(shim, "shim.log")):
            with open(os.path.join(shim, "shim.log"), encoding="utf-8") as f:
                for line in f:
                    call = json.loads(line)
                    (loads if call["fn"] == "load" else calls).append(call)
        return res, calls, loads, problems

    @staticmethod
    def check_exit(res, want, problems):
        if res["ended"] == "self" and res["code"] != want:
            problems.append("exit status 0x%08X (%d), expected %d" % (res["code"], res["code"], want))

    @staticmethod
    def of(calls, fn):
        return [c for c in calls if c["fn"] == fn]

    def check_installs(self, calls, want, problems, level=None):
        """want: [(package file name, command line)] in order, each call with no visible
        window of the setup (the progress window is hidden before the engine runs)."""
        got = [(c["package"], c["cmdline"]) for c in self.of(calls, "MsiInstallProductW")]
        diff = list_difference("MsiInstallProductW (package, command line)", got, want)
        if diff:
            problems.append(diff)
        for c in self.of(calls, "MsiInstallProductW") + self.of(calls, "MsiApplyPatchW"):
            if c["visible"]:
                problems.append("windows still visible when the engine was called: %s"
                                % c["visible"])
                break
        if level is not None:
            levels = [(c["level"], c["window"]) for c in self.of(calls, "MsiSetInternalUI")]
            diff = list_difference("MsiSetInternalUI (level, window)", levels,
                                   [(level, None)] * len(want))
            if diff:
                problems.append(diff)

    def check_handles(self, calls, problems):
        """Every handle the engine gave out is closed, exactly once."""
        opened = [c["handle"] for c in calls
                  if c["fn"] in ("MsiOpenDatabaseW", "MsiDatabaseOpenViewW", "MsiViewFetch")
                  and c["ret"] == 0]
        closed = [c["handle"] for c in self.of(calls, "MsiCloseHandle")]
        if sorted(opened) != sorted(closed):
            problems.append("handles opened %s, closed %s" % (opened, closed))

    def check_property_read(self, calls, package, query, capacity, problems):
        opens = [(c["path"], c["persist"]) for c in self.of(calls, "MsiOpenDatabaseW")]
        if (package, 0) not in opens:
            problems.append("no read-only MsiOpenDatabaseW of %s: %s" % (package, opens))
        queries = [c["query"] for c in self.of(calls, "MsiDatabaseOpenViewW")]
        if query not in queries:
            problems.append("query %r not made: %s" % (query, queries))
        sizes = [c["size_in"] for c in self.of(calls, "MsiRecordGetStringW")]
        if capacity not in sizes:
            problems.append("no MsiRecordGetStringW with room for %d characters: %s"
                            % (capacity, sizes))

    def message_box(self, lang, want_text, problems):
        """Inspects the box captioned with the application title and presses OK."""
        title = self.runner.TITLES[lang]
        # --box: the progress window has the same class and caption, and is still visible
        # and enabled until the box comes up when the engine cannot be bound.
        rc, box, raw = self.s.robot(["inspect", self.hexed(title), str(T_WINDOW * 1000),
                                     "--press", str(IDOK), "--box"], lang, T_WINDOW + 30)
        if not box or not box.get("found"):
            problems.append("no message box captioned %r: %s" % (title, raw[-600:]))
            return False
        if box.get("text") != want_text:
            problems.append("box text %r, expected %r" % (box.get("text"), want_text))
        if box.get("icon") != "error":
            problems.append("box icon %s, expected error" % box.get("icon"))
        ids = sorted(b["id"] for b in box.get("buttons", []))
        if ids != [IDOK]:
            problems.append("box buttons %s, expected OK only" % ids)
        if rc != 0:
            problems.append("pressing OK failed (robot status %d)" % rc)
        return rc == 0

    @staticmethod
    def hexed(text):
        return text.encode().hex()

    # --- cases --------------------------------------------------------------------------

    def system_engine(self):
        """No shim: the engine registered in the template prefix installs the package."""
        problems = []
        self.remove_product(problems)
        res, _, _, p = self.setup_run("builtin", "", "en", {}, engine="system")
        problems += p
        self.check_exit(res, 0, problems)
        state = self.product_state()
        if state != 5:
            problems.append("product state %d after the run, expected 5" % state)
        if not os.path.isfile(self.installed_file()):
            problems.append("%s was not installed" % os.path.join(*PRODUCT_FILE))
        self.remove_product(problems)
        return problems

    def real_engine(self, lang):
        problems = []
        self.remove_product(problems)
        if os.path.exists(self.installed_file()):
            problems.append("the product's file is there before the run")
        title = self.runner.TITLES[lang]
        held = os.path.join(self.engines["shim"], "held")

        def look(proc, problems):
            if not self.wait_for(lambda: os.path.exists(held), T_WINDOW, proc):
                problems.append("the engine was never asked to open the package")
                return proc.poll() is not None
            rc, out = self.tool("dlgtool", ["texts", self.hexed(title), "5000"], lang)
            window = json.loads(out.splitlines()[-1]) if out else {}
            if not window.get("found"):
                problems.append("no progress window captioned %r" % title)
            else:
                texts = {c["id"]: c["text"] for c in window["controls"]}
                if texts.get(IDC_PROGRESS_TITLE) != PLEASE_WAIT[lang]:
                    problems.append("title text %r, expected %r"
                                    % (texts.get(IDC_PROGRESS_TITLE), PLEASE_WAIT[lang]))
            self.s.screenshot("progress-%s.png" % lang)
            return True

        package = self.win(self.dirs["builtin"], "Lumora.Win32.msi")
        res, calls, _, p = self.setup_run("builtin", "", lang, {"hold_open_ms": T_WINDOW * 1000},
                                          look)
        problems += p
        self.check_exit(res, 0, problems)
        self.check_property_read(calls, package, VERSION_QUERY, 16, problems)
        self.check_handles(calls, problems)
        self.check_installs(calls, [(package, "")], problems, level=5)
        if [c["ret"] for c in self.of(calls, "MsiInstallProductW")] != [0]:
            problems.append("the engine did not install: %s" % self.of(calls, "MsiInstallProductW"))
        state = self.product_state()
        if state != 5:
            problems.append("product state %d after the run, expected 5" % state)
        if not os.path.isfile(self.installed_file()):
            problems.append("%s was not installed" % os.path.join(*PRODUCT_FILE))
        rc, out = self.tool("dlgtool", ["texts", self.hexed(title), "0"], lang)
        if '"found":true' in out:
            problems.append("the progress window is still there after the run")
        self.remove_product(problems)
        return problems

    def missing_export(self):
        def box(proc, problems):
            return self.message_box("en", UPGRADE_FAILED["en"], problems)

        res, calls, loads, problems = self.setup_run("builtin", "", "en", {}, box,
                                                     engine="noreinstall")
        self.check_exit(res, 1603, problems)
        if not loads:
            problems.append("the registered engine was never loaded")
        if calls:
            problems.append("engine functions were called: %s" % [c["fn"] for c in calls])
        return problems

    def languages(self, lang, dialogs, want_files):
        """dialogs: per language dialog, (the preselected name or None, the name to pick or
        None to keep the selection), then OK."""
        caption = LANGUAGE_CAPTION[lang]
        log = os.path.join(self.engines["shim"], "shim.log")

        def installs_logged():
            try:
                with open(log, encoding="utf-8") as f:
                    return f.read().count('"fn":"MsiInstallProductW"')
            except OSError:
                return 0

        def choose(proc, problems):
            for i, (preselected, pick) in enumerate(dialogs):
                # The dialog of the previous product is gone once its package reached the engine.
                if i and not self.wait_for(lambda: installs_logged() >= i, T_WINDOW, proc):
                    problems.append("product %d never reached the engine" % i)
                    return False
                args = ["combo", self.hexed(caption), str(IDC_LANGUAGE_LIST), str(T_WINDOW * 1000)]
                if pick:
                    args.append(self.hexed(pick))
                rc, out = self.tool("dlgtool", args, lang, T_WINDOW + 30)
                combo = json.loads(out.splitlines()[-1]) if out else {}
                if not combo.get("found"):
                    problems.append("dialog %d: no language dialog captioned %r" % (i + 1, caption))
                    return False
                if combo["items"] != [ENGLISH, SLOVENIAN]:
                    problems.append("dialog %d lists %s, expected the names sorted"
                                    % (i + 1, combo["items"]))
                if combo["selected"] != preselected:
                    problems.append("dialog %d opened with %r selected, expected %r"
                                    % (i + 1, combo["selected"], preselected))
                if rc != 0:
                    problems.append("dialog %d: choosing %r failed (dlgtool status %d)"
                                    % (i + 1, pick, rc))
                    return False
                prc, _, _ = self.s.robot(["press", self.hexed(caption), str(IDOK),
                                          str(T_WINDOW * 1000)], lang, T_WINDOW + 30)
                if prc != 0:
                    problems.append("dialog %d: pressing OK failed (robot status %d)" % (i + 1, prc))
                    return False
            return True

        res, calls, _, problems = self.setup_run("install_languages", "", lang,
                                                 {"install_results": "0"}, choose)
        self.check_exit(res, 0, problems)
        d = self.dirs["install_languages"]
        self.check_installs(calls, [(self.win(d, f), "") for f in want_files], problems, level=5)
        return problems

    def language_cancel(self):
        caption = LANGUAGE_CAPTION["en"]

        def cancel(proc, problems):
            rc, _, raw = self.s.robot(["press", self.hexed(caption), str(IDCANCEL),
                                       str(T_WINDOW * 1000)], "en", T_WINDOW + 30)
            if rc != 0:
                problems.append("pressing Cancel failed (robot status %d): %s" % (rc, raw[-300:]))
            return rc == 0

        res, calls, _, problems = self.setup_run("install_languages", "", "en",
                                                 {"install_results": "0"}, cancel)
        self.check_exit(res, 1602, problems)
        if self.of(calls, "MsiInstallProductW") or self.of(calls, "MsiSetInternalUI"):
            problems.append("the engine was called: %s" % [c["fn"] for c in calls])
        return problems

    def update(self, present):
        problems = []
        package = self.win(self.dirs["install_update"], "Lumora.Win32.msi")
        if present:
            rc, out = self.tool("product_state", ["install", package])
            if out != "0" or self.product_state() != 5:
                return ["could not install the product first (%s)" % out]
        else:
            self.remove_product(problems)
        res, calls, _, p = self.setup_run("install_update", "", "en", {"install_results": "0"})
        problems += p
        self.check_exit(res, 0, problems)
        second = REINSTALL_PACKAGE if present else ""
        self.check_installs(calls, [(package, PROPERTIES), (package, second)], problems)
        levels = [c["level"] for c in self.of(calls, "MsiSetInternalUI")]
        if levels != [3, 4]:
            problems.append("UI levels %s, expected [3, 4] (one per row)" % levels)
        self.check_property_read(calls, package, CODE_QUERY, 40, problems)
        self.check_handles(calls, problems)
        queried = [(c["product"], c["ret"]) for c in self.of(calls, "MsiQueryProductStateW")]
        want_state = 5 if present else -1
        if (PRODUCT_CODE, want_state) not in queried:
            problems.append("MsiQueryProductStateW calls %s: none for %s giving %d"
                            % (queried, PRODUCT_CODE, want_state))
        if present:
            self.remove_product(problems)
        return problems

    def admin(self, args, want_cmdline):
        res, calls, _, problems = self.setup_run("builtin", args, "en", {"install_results": "0"})
        self.check_exit(res, 0, problems)
        package = self.win(self.dirs["builtin"], "Lumora.Win32.msi")
        self.check_installs(calls, [(package, want_cmdline)], problems, level=5)
        return problems

    def patches(self, args, product, install_type):
        res, calls, _, problems = self.setup_run("install_patches", args, "en",
                                                 {"patch_results": "0"})
        self.check_exit(res, 0, problems)
        d = self.dirs["install_patches"]
        want = []
        for _, patch, level, cmdline in PATCH_ROWS:
            want += [("MsiSetInternalUI", level, None),
                     ("MsiApplyPatchW", self.win(d, patch), product, install_type, cmdline)]
        got = []
        for c in calls:
            if c["fn"] == "MsiSetInternalUI":
                got.append((c["fn"], c["level"], c["window"]))
            elif c["fn"] == "MsiApplyPatchW":
                got.append((c["fn"], c["patch"], c["product"], c["type"], c["cmdline"]))
        diff = list_difference("MsiSetInternalUI and MsiApplyPatchW", got, want)
        if diff:
            problems.append(diff)
        other = [c["fn"] for c in calls if c["fn"] not in ("MsiSetInternalUI", "MsiApplyPatchW")]
        if other:
            problems.append("other engine calls for patches: %s" % other)
        self.check_installs(calls, [], problems)
        return problems

    def two_rows(self):
        res, calls, _, problems = self.setup_run("install_two", "", "en", {"install_results": "0"})
        self.check_exit(res, 0, problems)
        d = self.dirs["install_two"]
        self.check_installs(calls, [(self.win(d, "Lumora.Win32.msi"), ""),
                                    (self.win(d, "Second.msi"), "")], problems, level=5)
        return problems

    def stops_silently(self, result):
        res, calls, _, problems = self.setup_run("install_two", "", "en",
                                                 {"install_results": str(result)})
        self.check_exit(res, result, problems)
        d = self.dirs["install_two"]
        self.check_installs(calls, [(self.win(d, "Lumora.Win32.msi"), "")], problems, level=5)
        return problems

    def engine_error(self, lang, result, shown):
        def box(proc, problems):
            return self.message_box(lang, INSTALL_ERROR[lang] % shown, problems)

        res, calls, _, problems = self.setup_run("install_two", "", lang,
                                                 {"install_results": str(result)}, box)
        self.check_exit(res, result, problems)
        d = self.dirs["install_two"]
        self.check_installs(calls, [(self.win(d, "Lumora.Win32.msi"), "")], problems, level=5)
        return problems
