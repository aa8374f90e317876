"""Faults of the install run that need no server: a local copy that is a directory, and an
error message in each of the four languages.

Each case asserts the exit status, the exact text of the one message box, and that nothing
else was shown.
"""
import os
import shutil

import run_wine_tests as rwt
import variants

texts = rwt.texts

NOT_FOUND = {lang: texts.as_format(lang, 13) for lang in ("en", "sl", "it", "sq")}
INSTALL_ERROR = texts.as_format("en", 32)

ROW = """
namespace {
const LanguageEntry kLanguages[] = {
    {1060, u"Slovenščina", {nullptr, u"Lumora.Win32.msi", u"Lumora.x64.msi", nullptr}, {}},
    {0, nullptr, {}, {}},
};
const PackageEntry kPackages[] = {
    {%(url)s, u"INSTALL", u"Quorvex Lumora", nullptr, %(version)s, 0, 2, kLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
}  // namespace
const SetupConfig setupConfig = {u"https://localhost:1/MSI/2.0/", u"InstMSIA.exe", u"InstMSIW.exe", 200, kPackages};
"""
CLOSED_URL = "https://localhost:1/prenos/?verzija=5.1&paket="
TABLES = {
    # Any copy beside the setup is handed to the engine as it lies; nothing is downloaded.
    "anycopy": ROW % {"url": "nullptr", "version": "nullptr"},
    # A copy must carry 5.1; there is no download address.
    "localonly51": ROW % {"url": "nullptr", "version": 'u"5.1"'},
    # Downloads go to a port where nothing listens.
    "closedport": ROW % {"url": 'u"%s"' % CLOSED_URL, "version": 'u"5.1"'},
}


def add_cases(suite):
    if not any(suite.wanted(n) for n in ("fault:",)):
        return
    group = Faults(suite)
    suite.case("fault: a directory named like the package is handed to the engine, which fails",
               group.directory_to_engine)
    suite.case("fault: a directory named like the package has no version: not found, named locally",
               group.directory_without_version)
    for lang in ("en", "sl", "it", "sq"):
        suite.case("fault: failed download reported in %s" % lang, group.failed_download, lang)


class Faults:
    def __init__(self, suite):
        self.suite = suite
        self.exes = None

    def prepare(self):
        if self.exes is None:
            self.exes = variants.build_variants(TABLES)

    def run_dir(self, variant, with_directory):
        """A fresh folder with the setup variant (and the package name as a directory)."""
        self.prepare()
        s = self.suite
        folder = s.new_tmp("fault-" + variant)
        os.makedirs(folder)
        exe = os.path.join(folder, "setup.exe")
        shutil.copyfile(self.exes[variant], exe)
        if with_directory:
            os.makedirs(os.path.join(folder, "Lumora.Win32.msi"))
        return exe

    def one_box(self, exe, lang, want_text, want_exit):
        """Runs the setup, expects exactly one error box with `want_text`, presses OK."""
        s = self.suite
        problems = []
        proc, stopfile, _ = s.start_setup(exe, "", lang)
        caption = rwt.TITLES[lang].encode().hex()
        pressed = False
        try:
            rc, box, raw = s.robot(["inspect", caption, "20000", "--box"], lang, 60)
            if not box or not box.get("found"):
                problems.append("no message box: %s" % rwt.short(raw))
            else:
                if box["text"] != want_text:
                    problems.append("text " + rwt.first_difference(box["text"] or "", want_text))
                if box["icon"] != "error":
                    problems.append("icon %s, not error" % box["icon"])
                prc, _, _ = s.robot(["press", caption, str(rwt.IDOK), "20000"], lang, 60)
                pressed = prc == 0
                if not pressed:
                    problems.append("could not press OK")
                else:
                    # No second box may follow.
                    rc2, box2, _ = s.robot(["inspect", caption, "1500", "--box"], lang, 30)
                    if box2 and box2.get("found"):
                        problems.append("a second box followed: %s" % rwt.short(box2.get("text")))
        finally:
            res = s.end_setup(proc, stopfile, stop_now=not pressed)
        if pressed and res["code"] != want_exit:
            problems.append("exit status %d, expected %d" % (res["code"], want_exit))
        return problems

    def directory_to_engine(self):
        exe = self.run_dir("anycopy", True)
        # Wine's engine cannot open a directory (1627 here; Windows says 1619 or 1620), and
        # its message library has no texts, so the setup's own message names the code.
        return self.one_box(exe, "en", INSTALL_ERROR % 1627, 1627)

    def directory_without_version(self):
        exe = self.run_dir("localonly51", True)
        local = rwt.win_path(os.path.join(os.path.dirname(exe), "Lumora.Win32.msi"))
        return self.one_box(exe, "en", NOT_FOUND["en"] % local, 2)

    def failed_download(self, lang):
        exe = self.run_dir("closedport", False)
        return self.one_box(exe, lang, NOT_FOUND[lang] % (CLOSED_URL + "Lumora.Win32.msi"), 2)
