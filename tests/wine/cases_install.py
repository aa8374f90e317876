"""The install run of setup.exe against a real and a recording installer engine.

Every case runs setup.exe without arguments (or with /a) and looks at its full exit status,
at what the user sees (progress window, language dialog, message boxes) and at what reached
the engine or the machine, with the files of the setup's architecture's column.

The engine: the group's prefix copy registers engine_shim.c's msi.dll (of the setup's
bitness) through "InstallerLocation". It forwards every call to Wine's engine, records each
call in shim.log, can hold the first MsiOpenDatabaseW until the test has looked at the
progress window, and can return scripted results for MsiInstallProductW and MsiApplyPatchW. A
second build lacks MsiReinstallProductW. Both carry file version 5.0 (below 2.0 the setup would
upgrade the engine). The copy prefers native msi.dll (DllOverrides), or Wine would load its
builtin engine under the shim's path. No variant's row has a download address.
"""
import json
import os
import shutil
import time

import cases_faults
import harness
from harness import LUMORA_PRODUCT_CODE as PRODUCT_CODE, texts, win_path

PRODUCT_FILE = ("Program Files", "Quorvex", "Lumora", "lumora.txt")

# What the user must see.
PLEASE_WAIT = {lang: texts.as_format(lang, 16) % "Quorvex Lumora" for lang in ("en", "sl", "it", "sq")}
LANGUAGE_CAPTION = {lang: texts.DIALOG_TEXTS[lang][0] for lang in ("en", "sl", "it")}
UPGRADE_FAILED = texts.text("en", 29)
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
T_RUN_MS = 30000    # launch.exe run ends setup.exe after this


# --- tables of the further executables ----------------------------------------------------

def tables(column, rows):
    """C++ tables: rows of (operation, product, properties, ui level, language rows), each
    language row (id, name, package, patch) with its files in the column. No download address
    and no expected version: the file beside the setup is used."""
    return harness.tables_source([
        (None, operation, product, properties, None, 0, level,
         [(i, name, harness.in_column(column, package), harness.in_column(column, patch))
          for i, name, package, patch in langs])
        for operation, product, properties, level, langs in rows])


PATCH_ROWS = [  # (operation, patch file, ui level, command line the engine must get)
    ("MINPATCH", "Lumora.min.msp", 2, REINSTALL_PATCH),
    ("MAJPATCH", "Lumora.maj.msp", 3, None),
    (None, "Lumora.null.msp", 4, REINSTALL_PATCH),
    ("default", "Lumora.default.msp", 0x23, REINSTALL_PATCH),
]


def variant_tables(column, package):
    """{name: (tables, files beside the setup)}; package: the real package's file name."""
    lumora = [(1060, SLOVENIAN, package, None)]
    return {
        # Two products, each in Slovenian and English (table order: Slovenian first).
        "install_languages": (tables(column, [
            ("INSTALL", "Quorvex Lumora", None, 5,
             [(1060, SLOVENIAN, "Lumora.sl.msi", None), (1033, ENGLISH, "Lumora.en.msi", None)]),
            ("INSTALL", "Quorvex Lumora Extra", None, 5,
             [(1060, SLOVENIAN, "Extra.sl.msi", None), (1033, ENGLISH, "Extra.en.msi", None)]),
        ]), ["Lumora.sl.msi", "Lumora.en.msi", "Extra.sl.msi", "Extra.en.msi"]),
        # Reinstall of what is installed: with a property string, then without.
        "install_update": (tables(column, [("installupd", "Quorvex Lumora", PROPERTIES, 3, lumora),
                                           ("INSTALLUPD", "Quorvex Lumora", None, 4, lumora)]),
                           [package]),
        # Patches only (no package in the column), every keyword, each row its UI level.
        "install_patches": (tables(column, [
            (op, "Quorvex Lumora", None, level, [(1060, SLOVENIAN, None, patch)])
            for op, patch, level, _ in PATCH_ROWS]), [p for _, p, _, _ in PATCH_ROWS]),
        # Two products one after the other.
        "install_two": (tables(column, [
            ("INSTALL", "Quorvex Lumora", None, 5, lumora),
            ("INSTALL", "Quorvex Lumora Second", None, 5, [(1060, SLOVENIAN, "Second.msi", None)]),
        ]), [package, "Second.msi"]),
    }


def add_cases(suite):
    group, pkg = InstallRun(suite), suite.package_file
    cases = [("install: built-in tables and Wine's engine install " + pkg, group.system_engine)]
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
        ("install: patch rows: keywords, command lines and UI levels", group.patches, "", None, 0),
        ("install: patch rows with /a: network image, no product", group.patches, "/a", None, 1),
        ('install: patch rows with /a "C:\\Some Dir": the folder as product', group.patches,
         '/a "C:\\Some Dir"', "C:\\Some Dir", 1),
    ]
    # The engine's result is scripted: (name, tables, arguments, language, result, the calls'
    # (file, command line) in order, the text of the one error box or None).
    results = [
        ("/a passes ' ACTION=ADMIN'", "builtin", "/a", "en", 0,
         [(pkg, " ACTION=ADMIN")]),
        ('/a "C:\\Some Dir" passes the quoted TARGETDIR', "builtin",
         '/a "C:\\Some Dir"', "en", 0, [(pkg, ' ACTION=ADMIN TARGETDIR="C:\\Some Dir"')]),
        ("/a C:\\Some Dir unquoted takes the target up to the blank",
         "builtin", "/a C:\\Some Dir", "en", 0, [(pkg, ' ACTION=ADMIN TARGETDIR="C:\\Some"')]),
        ("both rows are handled when the first gives 0", "install_two",
         "", "en", 0, [(pkg, ""), ("Second.msi", "")]),
        ("3010 from the engine ends the run with 3010, silently, before the second row",
         "install_two", "", "en", 3010, [(pkg, "")]),
        ("engine result 3 shows the message for 1619 and ends with 3",
         "install_two", "", "en", 3, [(pkg, "")], INSTALL_ERROR["en"] % 1619),
        ("engine result 1620 shows its message (sl) and ends with 1620",
         "install_two", "", "sl", 1620, [(pkg, "")], INSTALL_ERROR["sl"] % 1620),
    ]
    cases = [c for c in cases if suite.wanted(c[0])]
    if not cases and not any(suite.wanted("install: " + r[0]) for r in results):
        return
    # One copy of the template prefix for the whole group; cases that install the product for
    # real remove it again.
    try:
        with suite.own_prefix(group.prefix):
            for name, body, *args in cases:
                suite.case(name, group.prepared(body), *args)
            suite.table("install", results, group.prepared(group.scripted),
                        ("both rows are handled when the first gives 0", lambda a: a + [None, 3010]))
    finally:
        if not suite.keep:
            shutil.rmtree(group.root, ignore_errors=True)


def remove_product(s, problems):
    """Uninstalls the product when it is there; reports a failure to do so."""
    if s.product_state(PRODUCT_CODE)[0] == -1:
        return
    out = s.products("remove", PRODUCT_CODE)
    state = s.product_state(PRODUCT_CODE)[0]
    if state != -1:
        problems.append("could not remove the product again (result %s, state %d)" % (out, state))


def check_installed(s, problems):
    """The engine knows the product as installed, and its file is in the prefix."""
    state = s.product_state(PRODUCT_CODE)[0]
    if state != 5:
        problems.append("product state %d after the run, expected 5" % state)
    if not os.path.isfile(os.path.join(s.prefix, "drive_c", *PRODUCT_FILE)):
        problems.append("%s was not installed" % os.path.join(*PRODUCT_FILE))


class InstallRun:
    def __init__(self, suite):
        self.s = suite
        self.root = os.path.join(suite.work, "install")
        self.engines = {kind: os.path.join(self.root, kind) for kind in ("engine", "engine-noreinstall")}
        self.prefix = os.path.join(self.root, "prefix")
        self.engine = None
        self.ready = harness.Once(self.prepare)

    # --- environment ------------------------------------------------------------------

    def prepared(self, body):
        """body, run once the group is prepared."""
        def run(*args):
            self.ready()
            return body(*args)
        return run

    def prepare(self):
        s = self.s
        t0 = time.time()
        # Private copies of the engine stand-ins: each writes its log and flags beside itself.
        for kind, folder in self.engines.items():
            os.makedirs(folder, exist_ok=True)
            shutil.copyfile(os.path.join(s.bin, kind, "msi.dll"), os.path.join(folder, "msi.dll"))
        self.package = harness.lumora_package(s, os.path.join(self.root, "package"))
        variant = variant_tables(s.column, s.package_file)
        built = harness.build_variants({name: t for name, (t, _) in variant.items()}, s.arch)
        runs = {name: (built[name], names) for name, (_, names) in variant.items()}
        runs["builtin"] = (s.setup_plain, [s.package_file])
        self.dirs = {}
        dummy = b"not a package: the engine's result is scripted\n"
        for name, (exe, names) in runs.items():
            # One directory per executable: setup.exe and the files its rows name.
            d = self.dirs[name] = os.path.join(self.root, "run", name)
            os.makedirs(d, exist_ok=True)
            shutil.copyfile(exe, os.path.join(d, "setup.exe"))
            for n in names:
                if n == s.package_file:
                    shutil.copyfile(self.package, os.path.join(d, n))
                else:
                    with open(os.path.join(d, n), "wb") as f:
                        f.write(dummy)
        s.reg_add("HKCU\\Software\\Wine\\DllOverrides", "msi", "native,builtin")
        s.log("install: package, variants and prefix ready after %.1f s" % (time.time() - t0))

    def use_engine(self, kind):
        """Registers the engine: "system" (Wine's, as the template has it), "engine" (the
        shim) or "engine-noreinstall"."""
        if self.engine == kind:
            return
        location = "C:\\windows\\system32" if kind == "system" else win_path(self.engines[kind])
        self.s.reg_add("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
                       "InstallerLocation", location)
        self.engine = kind

    # --- helpers ----------------------------------------------------------------------

    def win(self, *parts):
        return win_path(os.path.join(*parts))

    @staticmethod
    def wait_for(predicate, timeout, proc):
        """Bounded poll; gives up early when proc (launch.exe run) has ended."""
        return harness.wait_until(predicate, timeout, give_up=lambda: proc.poll() is not None)

    def setup_run(self, exe, args, lang, config, interact=None, engine="engine", want_exit=None):
        """Runs setup.exe of directory exe with the shim configured by config (a dict), through
        Suite.run_setup (interact, want_exit); the held engine call is released once interact
        is done. Returns (problems, the engine calls without the load line, load lines)."""
        self.use_engine(engine)
        shim = self.engines.get(engine)
        if shim:
            for name in ("shim.log", "held", "release"):
                if os.path.exists(os.path.join(shim, name)):
                    os.remove(os.path.join(shim, name))
            with open(os.path.join(shim, "shim.cfg"), "w") as f:
                f.writelines("%s=%s\n" % kv for kv in config.items())

        def act(proc, problems):
            try:
                return interact is None or interact(proc, problems)
            finally:
                if shim:
                    open(os.path.join(shim, "release"), "w").close()
        problems, _ = self.s.run_setup(os.path.join(self.dirs[exe], "setup.exe"), args, lang, act,
                                       want_exit, timeout_ms=T_RUN_MS)
        calls, loads = [], []
        if shim and os.path.exists(os.path.join(shim, "shim.log")):
            with open(os.path.join(shim, "shim.log"), encoding="utf-8") as f:
                for line in f:
                    call = json.loads(line)
                    (loads if call["fn"] == "load" else calls).append(call)
        return problems, calls, loads

    @staticmethod
    def of(calls, fn):
        return [c for c in calls if c["fn"] == fn]

    def check_installs(self, calls, want, problems, level=None):
        """want: [(package file name, command line)] in order, each call with no visible
        window of the setup (the progress window is hidden before the engine runs)."""
        got = [(c["package"], c["cmdline"]) for c in self.of(calls, "MsiInstallProductW")]
        harness.expect_list(problems, "MsiInstallProductW (package, command line)", got, want)
        for c in self.of(calls, "MsiInstallProductW") + self.of(calls, "MsiApplyPatchW"):
            if c["visible"]:
                problems.append("windows still visible when the engine was called: %s"
                                % c["visible"])
                break
        if level is not None:
            levels = [(c["level"], c["window"]) for c in self.of(calls, "MsiSetInternalUI")]
            harness.expect_list(problems, "MsiSetInternalUI (level, window)", levels,
                                [(level, None)] * len(want))

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

    # --- cases --------------------------------------------------------------------------

    def system_engine(self):
        """No shim: the engine registered in the template prefix installs the package."""
        problems = []
        remove_product(self.s, problems)
        problems += self.setup_run("builtin", "", "en", {}, engine="system", want_exit=0)[0]
        check_installed(self.s, problems)
        remove_product(self.s, problems)
        return problems

    def real_engine(self, lang):
        problems = []
        remove_product(self.s, problems)
        if os.path.exists(os.path.join(self.s.prefix, "drive_c", *PRODUCT_FILE)):
            problems.append("the product's file is there before the run")
        title = texts.title(lang)
        held = os.path.join(self.engines["engine"], "held")

        def look(proc, problems):
            if not self.wait_for(lambda: os.path.exists(held), T_WINDOW, proc):
                problems.append("the engine was never asked to open the package")
                return proc.poll() is not None
            _, window, _ = self.s.dialogs("texts", title, 5000, lang=lang)
            if not (window or {}).get("found"):
                problems.append("no progress window captioned %r" % title)
            else:
                shown = {c["id"]: c["text"] for c in window["controls"]}
                if shown.get(IDC_PROGRESS_TITLE) != PLEASE_WAIT[lang]:
                    problems.append("title text %r, expected %r"
                                    % (shown.get(IDC_PROGRESS_TITLE), PLEASE_WAIT[lang]))
            self.s.screenshot("progress-%s.png" % lang)
            return True

        package = self.win(self.dirs["builtin"], self.s.package_file)
        p, calls, _ = self.setup_run("builtin", "", lang, {"hold_open_ms": T_WINDOW * 1000}, look,
                                     want_exit=0)
        problems += p
        self.check_property_read(calls, package, VERSION_QUERY, 16, problems)
        self.check_handles(calls, problems)
        self.check_installs(calls, [(package, "")], problems, level=5)
        if [c["ret"] for c in self.of(calls, "MsiInstallProductW")] != [0]:
            problems.append("the engine did not install: %s" % self.of(calls, "MsiInstallProductW"))
        check_installed(self.s, problems)
        _, window, _ = self.s.dialogs("texts", title, 0, lang=lang)
        if (window or {}).get("found"):
            problems.append("the progress window is still there after the run")
        remove_product(self.s, problems)
        return problems

    def missing_export(self):
        problems, calls, loads = self.setup_run("builtin", "", "en", {},
                                                cases_faults.error_box(self.s, "en", UPGRADE_FAILED),
                                                "engine-noreinstall", 1603)
        if not loads:
            problems.append("the registered engine was never loaded")
        if calls:
            problems.append("engine functions were called: %s" % [c["fn"] for c in calls])
        return problems

    def languages(self, lang, dialogs, want_files):
        """dialogs: per language dialog, (the preselected name or None, the name to pick or
        None to keep the selection), then OK."""
        caption = LANGUAGE_CAPTION[lang]
        log = os.path.join(self.engines["engine"], "shim.log")

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
                rc, combo, _ = self.s.dialogs("combo", caption, IDC_LANGUAGE_LIST, T_WINDOW * 1000,
                                              *([pick.encode().hex()] if pick else []), lang=lang,
                                              timeout=T_WINDOW + 30)
                if not (combo or {}).get("found"):
                    problems.append("dialog %d: no language dialog captioned %r" % (i + 1, caption))
                    return False
                if combo["items"] != [ENGLISH, SLOVENIAN]:
                    problems.append("dialog %d lists %s, expected the names sorted"
                                    % (i + 1, combo["items"]))
                if combo["selected"] != preselected:
                    problems.append("dialog %d opened with %r selected, expected %r"
                                    % (i + 1, combo["selected"], preselected))
                if rc != 0:
                    problems.append("dialog %d: choosing %r failed (dialogs.exe status %d)"
                                    % (i + 1, pick, rc))
                    return False
                if not self.s.press(problems, caption, IDOK, "OK in dialog %d" % (i + 1), lang,
                                    T_WINDOW * 1000):
                    return False
            return True

        problems, calls, _ = self.setup_run("install_languages", "", lang, {"install_results": "0"},
                                            choose, want_exit=0)
        d = self.dirs["install_languages"]
        self.check_installs(calls, [(self.win(d, f), "") for f in want_files], problems, level=5)
        return problems

    def language_cancel(self):
        caption = LANGUAGE_CAPTION["en"]

        def cancel(proc, problems):
            return self.s.press(problems, caption, IDCANCEL, "Cancel", "en", T_WINDOW * 1000)

        problems, calls, _ = self.setup_run("install_languages", "", "en", {"install_results": "0"},
                                            cancel, want_exit=1602)
        if self.of(calls, "MsiInstallProductW") or self.of(calls, "MsiSetInternalUI"):
            problems.append("the engine was called: %s" % [c["fn"] for c in calls])
        return problems

    def update(self, present):
        problems = []
        package = self.win(self.dirs["install_update"], self.s.package_file)
        if present:
            out = self.s.products("install", package)
            if out != "0" or self.s.product_state(PRODUCT_CODE)[0] != 5:
                return ["could not install the product first (%s)" % out]
        else:
            remove_product(self.s, problems)
        p, calls, _ = self.setup_run("install_update", "", "en", {"install_results": "0"}, want_exit=0)
        problems += p
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
            remove_product(self.s, problems)
        return problems

    def patches(self, args, product, install_type):
        problems, calls, _ = self.setup_run("install_patches", args, "en", {"patch_results": "0"},
                                            want_exit=0)
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
        harness.expect_list(problems, "MsiSetInternalUI and MsiApplyPatchW", got, want)
        other = [c["fn"] for c in calls if c["fn"] not in ("MsiSetInternalUI", "MsiApplyPatchW")]
        if other:
            problems.append("other engine calls for patches: %s" % other)
        self.check_installs(calls, [], problems)
        return problems

    def scripted(self, exe, args, lang, result, installs, box_text=None, want_exit=None):
        """The engine returns result for every install: the run ends with it (or want_exit)
        after the installs ((file, command line) in order), showing box_text in an error box
        or nothing at all."""
        box = cases_faults.error_box(self.s, lang, box_text) if box_text else None
        problems, calls, _ = self.setup_run(exe, args, lang, {"install_results": str(result)}, box,
                                            want_exit=result if want_exit is None else want_exit)
        want = [(self.win(self.dirs[exe], f), cmdline) for f, cmdline in installs]
        self.check_installs(calls, want, problems, level=5)
        return problems
