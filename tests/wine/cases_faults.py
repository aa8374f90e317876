"""Faults of the install run that need no server: a local copy that is a directory, and an
error message in each of the four languages.

Each case asserts the exit status, the exact text of the one message box, and that nothing
else was shown. TABLES and error_box serve the planting and install groups too.
"""
import os
import shutil

import harness
from harness import IDOK, texts

NOT_FOUND = {lang: texts.as_format(lang, 13) for lang in ("en", "sl", "it", "sq")}
INSTALL_ERROR = texts.as_format("en", 32)

CLOSED_URL = "https://localhost:1/prenos/?verzija=5.1&paket="


def lumora_row(url, version):
    return harness.tables_source([(url, "INSTALL", "Quorvex Lumora", None, version, 0, 2, [
        (1060, "Slovenščina", harness.LUMORA_FILES[:3] + [None], None)])], "https://localhost:1/MSI/2.0/")


TABLES = {
    # Any copy beside the setup is handed to the engine as it lies; nothing is downloaded.
    "anycopy": lumora_row(None, None),
    # A copy must carry 5.1; there is no download address.
    "localonly51": lumora_row(None, "5.1"),
    # Downloads go to a port where nothing listens.
    "closedport": lumora_row(CLOSED_URL, "5.1"),
}


def error_box(s, lang, want_text, timeout_ms=20000):
    """What the user does for Suite.run_setup: inspects the error box captioned with the
    application title, presses OK and sees that no second box follows."""
    caption = texts.title(lang)

    def interact(proc, problems):
        # --box: the progress window has the same class and caption.
        if s.expect_box(problems, caption, want_text, "error", [IDOK], IDOK, lang, timeout_ms) is None:
            return False
        _, again, _ = s.dialogs("inspect", caption, 1500, "--box", lang=lang, timeout=30)
        if again and again.get("found"):
            problems.append("a second box followed: %s" % harness.short(again.get("text")))
        return True
    return interact


def add_cases(suite):
    group, pkg = Faults(suite), suite.package_file
    rows = [
        # Wine's engine cannot open a directory (1627 here; Windows says 1619 or 1620), and its
        # message library has no texts, so the setup's own message names the code.
        ("a directory named like the package is handed to the engine, which fails", "anycopy",
         True, "en", lambda d: INSTALL_ERROR % 1627, 1627),
        ("a directory named like the package has no version: not found, named locally",
         "localonly51", True, "en", lambda d: NOT_FOUND["en"] % harness.win_path(os.path.join(d, pkg)), 2),
    ] + [("failed download reported in %s" % lang, "closedport", False, lang,
          lambda d, lang=lang: NOT_FOUND[lang] % (CLOSED_URL + pkg), 2)
         for lang in ("en", "sl", "it", "sq")]
    suite.table("fault", rows, group.one_box,
                ("failed download reported in en", lambda a: a[:4] + [0]))


class Faults:
    def __init__(self, suite):
        self.suite = suite
        self.exes = None

    def one_box(self, variant, with_directory, lang, want_text, want_exit):
        """Runs the variant from a fresh folder (with the package's name as a directory),
        expects exactly one error box with want_text(folder), presses OK."""
        s = self.suite
        self.exes = self.exes or harness.build_variants(TABLES, s.arch)
        folder = s.new_tmp("fault-" + variant)
        os.makedirs(os.path.join(folder, s.package_file) if with_directory else folder)
        exe = os.path.join(folder, "setup.exe")
        shutil.copyfile(self.exes[variant], exe)
        return s.run_setup(exe, "", lang, error_box(s, lang, want_text(folder)), want_exit)[0]
