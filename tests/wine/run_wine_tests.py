#!/usr/bin/env python3
"""Wine level of setup.exe: the driver, and the first case group.

Runs setup.exe (x86 in a win32 prefix, x64 in a win64 prefix with 64-bit Wine) under the Wine
of a Debian root inside one private Xvfb display. This file's own cases: the usage box in every
language, the /v verify mode's exit statuses (with a throw-away code-signing PKI), and the
refusal of a second instance; every cases_*.py beside it adds a group through add_cases(suite).
Prints one line per case and closes with "wine8 x64: N passed, M failed, K skipped" (the harness,
tests/harness.py). Exit status 0 only when nothing failed.

    tests/wine/roots.sh run bookworm python3 tests/wine/run_wine_tests.py [SETUP_EXE]
        [--arch x86|x64] [--work DIR] [--keep] [-k FILTER] [-v]
"""
import argparse
import glob
import importlib
import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import harness  # noqa: E402
from harness import IDOK, LOCALES, REPO, TRUST_E_SUBJECT_NOT_TRUSTED, SetupError, texts, win_path  # noqa: E402

# What the user must see: the setup's own texts (tests/expected_texts.py); German users get
# English.
TITLES = {lang: texts.title(lang) for lang in LOCALES}
USAGE = {lang: texts.text(lang, texts.IDS_USAGE) for lang in LOCALES}

ERROR_BAD_ARGUMENTS = 160
ERROR_INSTALL_ALREADY_RUNNING = 1618
MUTEX_GLOBAL = "Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}"

USAGE_ARGS_ALL = ["/?", "/x", "-h", "/ab", "/", '"/a"']
# Every language: the full text once and a few arguments; English: every argument.
USAGE_CASES = (
    [("en", a, 0) for a in USAGE_ARGS_ALL]
    + [("en", "/v", ERROR_BAD_ARGUMENTS), ("en", "/v a b", ERROR_BAD_ARGUMENTS)]
    + [("sl", "/?", 0), ("sl", '"/a"', 0), ("sl", "/v", ERROR_BAD_ARGUMENTS)]
    + [("it", "/?", 0), ("it", "-h", 0), ("it", "/v a b", ERROR_BAD_ARGUMENTS)]
    + [("sq", "/?", 0), ("sq", "/", 0), ("sq", "/v", ERROR_BAD_ARGUMENTS)]
    + [("de", "/?", 0), ("de", "/x", 0), ("de", "/v a b", ERROR_BAD_ARGUMENTS)]
)
SCREENSHOT_ARG = "/?"
T_BOX_MS = 20000        # a usage box must appear within this


class Suite(harness.Suite):
    def usage_box(self, lang, args, want_exit, screenshot=None):
        def box(proc, problems):
            def while_up():
                # The box stays up until launch.exe has seen it: this proves that its window
                # watch, which the verify cases rely on, works.
                seen = harness.wait_until(lambda: os.path.exists(proc.seenfile), 10)
                if screenshot:
                    self.screenshot(screenshot)
                return [] if seen else ["launch.exe did not notice the box (its window watch is broken)"]
            return self.expect_box(problems, TITLES[lang], USAGE[lang], "information", [IDOK], IDOK,
                                   lang, T_BOX_MS, while_up, box_only=False) is not None
        return self.run_setup(self.setup_plain, args, lang, box, want_exit)[0]

    def second_instance(self):
        problems = []
        stem = self.new_tmp("mutex")
        ready, stop = stem + ".ready", stem + ".stop"
        holder = self.start_wine([self.tool("launch.exe"), "mutex",
                                  MUTEX_GLOBAL, win_path(ready), win_path(stop), "60000"])
        try:
            harness.wait_until(lambda: os.path.exists(ready), 30, 0.05, lambda: holder.poll() is not None)
            state = open(ready).read() if os.path.exists(ready) else None
            if state != "created":
                problems.append("launch.exe mutex could not create the mutex (%s, rc %s)"
                                % (state, holder.poll()))
            else:
                problems += self.verify(self.setup_plain, "", ERROR_INSTALL_ALREADY_RUNNING, 20000)
        finally:
            open(stop, "w").close()
            rc, _, _ = self.finish(holder, 30)
            if rc != 0 and not problems:
                problems.append("launch.exe mutex ended with %s" % rc)
        return problems

    def cases(self):
        self.table("usage", [("%s %s" % (lang, args), lang, args, want,
                              "usage-%s.png" % lang if args == SCREENSHOT_ARG else None)
                             for lang, args, want in USAGE_CASES], self.usage_box,
                   ("en /v", lambda a: [a[0], a[1], 0, None]))

        # (name, setup, its arguments around the file's path, the file, exit status)
        s, NT = self.setup_signed, TRUST_E_SUBJECT_NOT_TRUSTED
        self.table("verify", [
            ("/v file of the same publisher gives 0", s, "/v %s", "same", 0),
            ("/v unsigned file gives 0x800B0004", s, "/v %s", "unsigned", NT),
            ("/v file of a SHA-1-issued leaf under an untrusted root gives 0x800B0004", s, "/v %s",
             "other", NT),
            ("/v file of a SHA-1-issued leaf under the trusted root gives 0", s, "/v %s", "sha1", 0),
            ("/v file of another publisher under the trusted root gives 0", s, "/v %s", "third", 0),
            ("/v quoted path with blanks", s, '/v "%s"', "blanks", 0),
            ("/v file followed by blanks only", s, "/v %s  \t ", "same", 0),
            ("-v works like /v", s, "-v %s", "same", 0),
            ("/V works like /v", s, "/V %s", "same", 0),
            ("-V works like /v", s, "-V %s", "same", 0),
            ("/V unsigned file gives 0x800B0004", s, "/V %s", "unsigned", NT),
            # An unsigned setup.exe has no signer to compare with: the file's own trust decides.
            ("from an unsigned setup.exe: trusted file gives 0", self.setup_plain, "/v %s", "same", 0),
            ("from an unsigned setup.exe: unsigned file gives 0x800B0004", self.setup_plain, "/v %s",
             "unsigned", NT),
        ], lambda exe, args, key, want: self.verify(exe, args % win_path(self.f[key]), want),
            ("/v unsigned file gives 0x800B0004", lambda a: a[:3] + [0]))

        self.case("second instance exits 1618 without a window", self.second_instance)

        # Further groups of cases live in cases_*.py beside this file; each module has a
        # function add_cases(suite) that runs its cases through suite.case(...).
        here = os.path.dirname(os.path.abspath(__file__))
        sys.path.insert(0, here)
        for module_file in sorted(glob.glob(os.path.join(here, "cases_*.py"))):
            name = os.path.splitext(os.path.basename(module_file))[0]
            try:
                module = importlib.import_module(name)
                module.add_cases(self)
            except Exception as e:  # noqa: BLE001 - one broken group must not end the run
                self.report("setup of %s" % name, ["%s: %s" % (type(e).__name__, e)])

    # --- driver -------------------------------------------------------------------------

    def main(self):
        t0 = time.time()
        try:
            self.prepare()
            self.trust_probe()
            self.log("environment ready after %.1f s" % (time.time() - t0))
            self.cases()
        except SetupError as e:
            self.report("setup of the Wine test environment", [str(e)])
        finally:
            self.stop_wineserver()
            self.stop_xvfb()
        self.log("total %.1f s" % (time.time() - t0))


def cleanup(work, made, keep):
    """Removes the work dir, but keeps its screenshots/ when there are any."""
    shots = os.path.join(work, "screenshots")
    if keep:
        return
    if made and not (os.path.isdir(shots) and os.listdir(shots)):
        shutil.rmtree(work, ignore_errors=True)
    for entry in ("prefix", "bin", "pki", "files", "tmp"):
        shutil.rmtree(os.path.join(work, entry), ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("setup", nargs="?", default=os.path.join(REPO, "out", "setup.exe"),
                    help="setup.exe to test (default: out/setup.exe)")
    ap.add_argument("--work", help="work directory (default: a fresh temp dir)")
    ap.add_argument("--arch", choices=("x86", "x64"),
                    help="the setup's architecture (default: read from its PE header)")
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    ap.add_argument("-k", dest="filter", help="run only cases whose name contains this")
    ap.add_argument("-v", "--verbose", action="store_true")
    a = ap.parse_args()

    made = not a.work
    work = tempfile.mkdtemp(prefix="setup-wine-tests-") if made else os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    arch = a.arch or harness.pe_arch(a.setup) or "x86"
    suite = Suite(os.path.abspath(a.setup), work, a.keep, a.filter, a.verbose, arch)

    def on_signal(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_signal)
    try:
        suite.main()
    except KeyboardInterrupt:
        suite.report("run", ["interrupted"])
        suite.stop_wineserver()
        suite.stop_xvfb()
    finally:
        cleanup(work, made, a.keep)
    shots = suite.shots
    if os.path.isdir(shots) and os.listdir(shots):
        print("screenshots: %s (%s)" % (shots, ", ".join(sorted(os.listdir(shots)))), flush=True)
    if a.keep:
        print("work dir kept: %s" % work, flush=True)
    sys.exit(suite.closing())


if __name__ == "__main__":
    main()
