#!/usr/bin/env python3
"""Wine test level of setup.exe.

Runs setup.exe (x86 in a win32 prefix, x64 in a win64 prefix) under Wine inside one private Xvfb display and checks what a
user and a calling program see: the usage box in every language, the /v verify mode's
exit statuses (with a throw-away code-signing PKI), and the refusal of a second
instance. Prints one line per case ("PASS name" / "FAIL name: why") and, as its last
line, "N passed, M failed". Exit status 0 only when nothing failed.

    python3 tests/wine/run_wine_tests.py [SETUP_EXE] [--arch x86|x64] [--work DIR] [--keep] [-k FILTER]

Standard library only. Needs the root's Wine (tests/wine/roots.sh run), cmake and the mingw-w64
compiler of the architecture, osslsigncode, openssl, Xvfb and ImageMagick's import
(screenshots only).
"""

import argparse
import glob
import importlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))
import expected_texts as texts  # noqa: E402

# --- what the user must see ------------------------------------------------------------

LOCALES = {
    "en": "en_US.UTF-8",
    "sl": "sl_SI.UTF-8",
    "it": "it_IT.UTF-8",
    "sq": "sq_AL.UTF-8",
    "de": "de_DE.UTF-8",  # no German texts: English is shown
}

# What the user must see: the setup's own texts (tests/expected_texts.py); German users get
# English.
TITLES = {lang: texts.title(lang) for lang in LOCALES}
USAGE = {lang: texts.text(lang, texts.IDS_USAGE) for lang in LOCALES}

IDOK = 1
ERROR_BAD_ARGUMENTS = 160
ERROR_INSTALL_ALREADY_RUNNING = 1618
TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004
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

# Cases whose verdict comes from the platform's trust check or from an HTTPS download to the
# local server: they run only when the trust probe saw this Wine answer as measured.
TRUST_GROUPS = ("verify ", "download")

# Time limits (seconds unless named _MS).
T_BOX_MS = 20000        # a usage box must appear within this
T_CHILD_MS = 30000      # runexit terminates setup.exe after this
T_WINE_CMD = 90         # any single wine command
T_WINEBOOT = 300        # prefix creation on a slow machine


# What differs between the two builds of the setup.
ARCH_COLUMN = {"x86": 1, "x64": 2}
ARCH_PACKAGE = {"x86": "Lumora.Win32.msi", "x64": "Lumora.x64.msi"}
ARCH_TRIPLET = {"x86": "i686-w64-mingw32", "x64": "x86_64-w64-mingw32"}
ARCH_TOOLCHAIN = {"x86": "mingw-i686.cmake", "x64": "mingw-x86_64.cmake"}
PE_MACHINE_ARCH = {0x14C: "x86", 0x8664: "x64"}


def pe_arch(path):
    """x86 or x64 from a PE file's machine field; None when it is neither."""
    import struct
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ":
        return None
    at = struct.unpack_from("<I", head, 0x3C)[0]
    if head[at:at + 4] != b"PE\0\0":
        return None
    return PE_MACHINE_ARCH.get(struct.unpack_from("<H", head, at + 4)[0])


def free_port():
    """A port on 127.0.0.1 that nothing listens on now."""
    import socket
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def build_helpers(arch, timeout=600):
    """Builds tests/wine's Windows programs for arch (build/wine-helpers-ARCH); returns
    that directory. Raises SetupError with the build output's tail when it fails."""
    out = os.path.join(REPO, "build", "wine-helpers-" + arch)
    for cmd in (["cmake", "-S", HERE, "-B", out, "-G", "Ninja",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(REPO, "cmake", ARCH_TOOLCHAIN[arch])],
                ["cmake", "--build", out]):
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=timeout)
        if p.returncode != 0:
            raise SetupError("building the %s helpers failed:\n%s"
                             % (arch, p.stdout.decode(errors="replace")[-2000:]))
    return out


class SetupError(Exception):
    """A step of the harness failed: while building the environment it ends the run,
    inside a case it fails that case."""


def win_path(unix_path):
    """Z: path of a Unix path, computed by hand: winepath would start a wineserver."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def short(text, limit=400):
    r = repr(text)
    return r if len(r) <= limit else r[:limit] + "..."


def first_difference(got, want):
    n = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return ("differs at character %d: got %s, expected %s (full text: %s)"
            % (n, short(got[n:n + 30]), short(want[n:n + 30]), short(got, 600)))


class Suite:
    def __init__(self, setup_exe, work, keep, filt, verbose, arch="x86"):
        self.setup_src = setup_exe
        # The setup's architecture: x86 runs in a win32 prefix, x64 in a win64 prefix with
        # 64-bit Wine. Every helper is built for it, and packages come from its column.
        self.arch = arch
        self.column = ARCH_COLUMN[arch]
        self.package_file = ARCH_PACKAGE[arch]
        self.work = work
        self.keep = keep
        self.filter = filt
        self.verbose = verbose
        self.passed = 0
        self.failed = 0
        self.xvfb = None
        self.display = None
        self.prefix = os.path.join(work, "prefix")
        self.bin = os.path.join(work, "bin")
        self.pki = os.path.join(work, "pki")
        self.files = os.path.join(work, "files")
        self.tmp = os.path.join(work, "tmp")
        self.shots = os.path.join(work, "screenshots")
        self.seq = 0
        self.prefix_made = False
        # The Wine this run uses, from the Debian root tests/wine/roots.sh entered ("8.0").
        self.wine_version = os.environ.get("KAVRIN_WINE_VERSION", "")
        self.wine_major = int(self.wine_version.split(".")[0]) if self.wine_version[:1].isdigit() else 0
        self.label = ("wine%d" % self.wine_major if self.wine_major else "wine") + " " + arch
        self.trust_problem = None

    # --- reporting ----------------------------------------------------------------------

    def report(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL [%s] %s: %s" % (self.label, name, "; ".join(problems)), flush=True)
        else:
            self.passed += 1
            print("PASS [%s] %s" % (self.label, name), flush=True)

    def skip(self, name, reason):
        print("SKIP [%s] %s: %s" % (self.label, name, reason), flush=True)

    def log(self, msg):
        if self.verbose:
            print("  [%s] %s" % (time.strftime("%H:%M:%S"), msg), flush=True)

    def wanted(self, name):
        return not self.filter or self.filter in name

    # --- processes ----------------------------------------------------------------------

    def env(self, lang="en"):
        e = dict(os.environ)
        for k in list(e):
            if k.startswith("LC_") or k in ("LANG", "LANGUAGE"):
                del e[k]
        e.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win64" if self.arch == "x64" else "win32",
            "KAVRIN_WINE_ARCH": self.arch,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": self.display or "",
            "LC_ALL": LOCALES[lang],
        })
        return e

    # Output goes through files, never pipes: a Wine process may start long-lived helpers
    # (the virtual desktop's explorer.exe) that inherit its output handles, and a pipe
    # would then stay open until they end.

    def run(self, args, timeout, env=None, check=True, what=None, cwd=None):
        proc = self.start(args, env, cwd)
        rc, out, err = self.finish(proc, timeout)
        if rc is None:
            raise SetupError("%s did not finish within %d s" % (what or args[0], timeout))
        if check and rc != 0:
            raise SetupError("%s failed (%d): %s" % (what or " ".join(args), rc,
                                                    err.decode(errors="replace")[-800:]))
        return subprocess.CompletedProcess(args, rc, out, err)

    def start(self, args, env=None, cwd=None):
        self.log("start: %s" % " ".join(args))
        stem = self.new_tmp("out")
        out = open(stem + ".stdout", "w+b")
        err = open(stem + ".stderr", "w+b")
        proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env,
                                cwd=cwd)
        proc.out_files = (out, err)
        return proc

    def wine(self, args, timeout=T_WINE_CMD, lang="en", check=True):
        return self.run(["wine"] + args, timeout, env=self.env(lang), check=check,
                        what="wine " + " ".join(args[:1]))

    def start_wine(self, args, lang="en"):
        return self.start(["wine"] + args, self.env(lang))

    @staticmethod
    def finish(proc, timeout):
        """Waits for a started process; kills it (by its own pid) when it overruns.
        Returns (exit status or None when killed, stdout bytes, stderr bytes)."""
        rc = None
        try:
            rc = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(10)
        data = []
        for fh in proc.out_files:
            fh.seek(0)
            data.append(fh.read())
            fh.close()
        return rc, data[0], data[1]

    def new_tmp(self, stem):
        os.makedirs(self.tmp, exist_ok=True)
        self.seq += 1
        return os.path.join(self.tmp, "%03d-%s" % (self.seq, stem))

    # --- environment --------------------------------------------------------------------

    def check_tools(self):
        missing = [t for t in ("wine", "wineboot", "wineserver", "cmake", ARCH_TRIPLET[self.arch] + "-gcc",
                               "osslsigncode", "openssl", "Xvfb") if not shutil.which(t)]
        if missing:
            raise SetupError("missing tools: %s (scripts/install-deps.sh installs them)"
                             % ", ".join(missing))
        if not os.path.isfile(self.setup_src):
            raise SetupError("no setup executable at %s" % self.setup_src)

    def start_xvfb(self):
        """A private Xvfb on a display number it picks itself (-displayfd)."""
        rfd, wfd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(wfd,))
        os.close(wfd)
        data = b""
        deadline = time.time() + 30
        while not data.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([rfd], [], [], 1)
            if ready:
                chunk = os.read(rfd, 64)
                if not chunk:
                    break
                data += chunk
        os.close(rfd)
        if not data.strip().isdigit():
            raise SetupError("Xvfb did not start")
        self.display = ":" + data.strip().decode()
        self.log("Xvfb pid %d on %s" % (self.xvfb.pid, self.display))

    def stop_xvfb(self):
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(10)

    def build_helpers(self):
        """Every Windows program of the tests, built for this run's architecture by the
        mingw CMake configuration of tests/wine, copied into bin/ (msi.dll stand-ins keep
        their engine/ and engine-noreinstall/ folders)."""
        built = build_helpers(self.arch)
        shutil.copytree(built, self.bin, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("CMakeFiles", "*.a", "*.ninja*", "*.cmake",
                                                      "CMakeCache.txt", ".ninja*"))

    def sign(self, leaf, src, dst):
        chain = os.path.join(self.pki, leaf + "-chain.pem")
        key = os.path.join(self.pki, leaf + ".key")
        tmp = dst + ".signing"
        args = ["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256",
                "-n", "Quorvex Lumora Setup", "-in", src, "-out", tmp]
        p = self.run(args, 60, check=False)
        if p.returncode != 0:
            # A file that already carries a signature: sign a copy without it.
            bare = dst + ".bare"
            self.run(["osslsigncode", "remove-signature", "-in", src, "-out", bare], 60,
                     what="removing the signature of %s" % src)
            self.run(args[:-3] + ["-in", bare, "-out", tmp], 60, what="signing %s" % src)
            os.remove(bare)
        os.replace(tmp, dst)

    def make_files(self):
        self.run(["bash", os.path.join(HERE, "pki.sh"), self.pki], 120, what="pki.sh")
        os.makedirs(self.files, exist_ok=True)
        blanks = os.path.join(self.files, "dir with blanks")
        os.makedirs(blanks, exist_ok=True)
        # The product, plain and signed by the trusted test publisher.
        self.setup_plain = os.path.join(self.bin, "setup.exe")
        shutil.copyfile(self.setup_src, self.setup_plain)
        signed_dir = os.path.join(self.bin, "signed")
        os.makedirs(signed_dir, exist_ok=True)
        self.setup_signed = os.path.join(signed_dir, "setup.exe")
        self.sign("leaf", self.setup_plain, self.setup_signed)
        # Small PE files to verify: copies of a helper, unsigned or signed.
        pe = os.path.join(self.bin, "holdmutex.exe")
        f = self.f = {
            "unsigned": os.path.join(self.files, "unsigned.exe"),
            "same": os.path.join(self.files, "same.exe"),
            "third": os.path.join(self.files, "third.exe"),
            "other": os.path.join(self.files, "other.exe"),
            "sha1": os.path.join(self.files, "sha1.exe"),
            "blanks": os.path.join(blanks, "same signed.exe"),
        }
        shutil.copyfile(pe, f["unsigned"])
        self.sign("leaf", pe, f["same"])
        self.sign("leaf3", pe, f["third"])
        self.sign("leaf2", pe, f["other"])
        self.sign("leaf1", pe, f["sha1"])
        shutil.copyfile(f["same"], f["blanks"])
        # The signatures themselves, checked on the host first.
        ca = os.path.join(self.pki, "ca.pem")
        ca2 = os.path.join(self.pki, "ca2.pem")
        for path, root in ((self.setup_signed, ca), (f["same"], ca), (f["third"], ca),
                           (f["sha1"], ca), (f["other"], ca2)):
            self.run(["osslsigncode", "verify", "-CAfile", root, "-in", path], 60,
                     what="osslsigncode verify %s" % os.path.basename(path))

    def make_prefix(self):
        os.makedirs(self.prefix, exist_ok=True)
        self.prefix_made = True
        t = time.time()
        if self.trusts_system_store():
            self.trust_ca_in_root()
        self.run(["wineboot", "-i"], T_WINEBOOT, env=self.env(), what="wineboot -i")
        self.run(["wineserver", "-w"], T_WINEBOOT, env=self.env(), what="wineserver -w")
        if not self.trusts_system_store():
            self.trust_ca_in_registry()
        # Wine's virtual desktop, so that screenshots show window captions.
        self.wine(["reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop",
                   "/d", "Default", "/f"])
        self.wine(["reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default",
                   "/d", "1024x768", "/f"])
        self.run(["wineserver", "-w"], T_WINE_CMD, env=self.env(), what="wineserver -w")
        self.log("prefix ready in %.1f s" % (time.time() - t))

    # Wine 8 honours a root CA put into the prefix's registry; Wine 10 does not (neither the
    # registry blob nor the store API), but takes the system trust store of the Debian root it
    # runs in, read when the prefix is made. The host's store is never touched.
    def trusts_system_store(self):
        return self.wine_major >= 10

    def trust_ca_in_root(self):
        root = os.environ.get("KAVRIN_WINE_ROOT")
        if not root:
            raise SetupError("Wine %s takes its trusted roots from its Debian root, and this run "
                             "has none (run it through tests/wine/roots.sh run)" % self.wine_version)
        store = os.path.join(root, "usr", "local", "share", "ca-certificates")
        os.makedirs(store, exist_ok=True)
        shutil.copyfile(os.path.join(self.pki, "ca.pem"), os.path.join(store, "kavrin-test-ca.crt"))
        self.run(["chroot", root, "update-ca-certificates", "--fresh"], 120,
                 what="update-ca-certificates in the Debian root")

    def trust_ca_in_registry(self):
        self.wine(["reg", "import", win_path(os.path.join(self.pki, "ca.reg"))])
        thumb = open(os.path.join(self.pki, "ca.thumbprint")).read().strip()
        q = self.wine(["reg", "query", "HKLM\\Software\\Microsoft\\SystemCertificates\\Root"
                       "\\Certificates\\" + thumb], check=False)
        if q.returncode != 0:
            raise SetupError("the test CA is not in the prefix's Root store")

    def trust_probe(self):
        """Control files through an unsigned setup.exe, whose /v verdict is the file's own
        trust: unsigned and a SHA-1-issued leaf under the untrusted root must be refused, a
        SHA-1-issued leaf under the test CA accepted. A Wine that answers otherwise does not
        trust the test CA as measured, and every trust and download case fails with that."""
        want = (("unsigned", TRUST_E_SUBJECT_NOT_TRUSTED), ("other", TRUST_E_SUBJECT_NOT_TRUSTED),
                ("sha1", 0))
        seen = []
        for key, code in want:
            problems = self.verify(self.setup_plain, "/v " + win_path(self.f[key]), code)
            if problems:
                seen.append("%s: %s" % (key, "; ".join(problems)))
        if seen:
            self.trust_problem = ("Wine %s does not answer the trust probe as measured (%s): the "
                                  "test CA is not trusted the way this Wine honours, or its trust "
                                  "check changed" % (self.wine_version, "; ".join(seen)))
        self.report("trust probe: unsigned and untrusted-root controls refused, trusted-root "
                    "control accepted", [self.trust_problem] if self.trust_problem else [])

    def stop_wineserver(self):
        if self.prefix_made:
            try:
                subprocess.run(["wineserver", "-k"], env=self.env(), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=self.env(), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except (subprocess.TimeoutExpired, OSError):
                pass

    # --- helpers inside the prefix --------------------------------------------------------

    def start_setup(self, exe, args, lang, kill_on_window=False, timeout_ms=T_CHILD_MS):
        """Starts runexit on `"EXE" ARGS`; returns (process, stop file, seen file)."""
        stem = self.new_tmp("run")
        cmdfile, stopfile, seenfile = stem + ".cmd", stem + ".stop", stem + ".seen"
        cmdline = '"%s"' % win_path(exe) + (" " + args if args else "")
        with open(cmdfile, "w", encoding="utf-8") as fh:
            fh.write(cmdline)
        argv = [win_path(os.path.join(self.bin, "runexit.exe")),
                "--stop", win_path(stopfile), "--seen", win_path(seenfile)]
        if kill_on_window:
            argv.append("--kill-on-window")
        argv += [win_path(cmdfile), str(timeout_ms)]
        return self.start_wine(argv, lang), stopfile, seenfile

    def end_setup(self, proc, stopfile, stop_now=False):
        """Waits for runexit; returns a dict of its report or raises SetupError."""
        if stop_now:
            open(stopfile, "w").close()
        rc, out, err = self.finish(proc, T_CHILD_MS / 1000 + 30)
        if rc is None:
            raise SetupError("runexit did not end")
        line = out.decode("utf-8", errors="replace").strip()
        res = {}
        for part in line.split(" "):
            if "=" in part:
                k, v = part.split("=", 1)
                res.setdefault(k, v)
        if "exit" not in res:
            raise SetupError("runexit said %s %s" % (short(line),
                                                     short(err.decode(errors="replace")[-300:])))
        res["first_window"] = line.split('first_window=', 1)[-1].strip('"')
        res["code"] = int(res["exit"], 16)
        return res

    def robot(self, args, lang, timeout):
        p = self.wine([win_path(os.path.join(self.bin, "robot.exe"))] + args,
                      timeout=timeout, lang=lang, check=False)
        text = p.stdout.decode("utf-8", errors="strict").strip()
        try:
            data = json.loads(text.splitlines()[-1]) if text else None
        except ValueError:
            data = None
        return p.returncode, data, text

    # --- cases --------------------------------------------------------------------------

    def case(self, name, body, *args, **kw):
        """Runs one case; a broken helper fails that case only, the suite goes on."""
        if not self.wanted(name):
            return
        self.log("case: %s" % name)
        if self.trust_problem and name.startswith(TRUST_GROUPS):
            self.report(name, [self.trust_problem])
            return
        try:
            problems = body(*args, **kw)
        except (SetupError, OSError, ValueError, KeyError) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        self.report(name, problems)

    def usage_box(self, lang, args, want_exit, screenshot=None):
        problems = []
        title = TITLES[lang]
        caption_hex = title.encode().hex()
        proc, stopfile, seenfile = self.start_setup(self.setup_plain, args, lang)
        pressed = False
        try:
            rc, box, raw = self.robot(["inspect", caption_hex, str(T_BOX_MS)], lang,
                                      T_BOX_MS / 1000 + 30)
            if not box:
                problems.append("robot output unreadable: %s" % short(raw))
            elif not box.get("found"):
                shown = [(w["class"], w["caption"]) for w in box.get("windows", [])
                         if w["class"] == "#32770" or w["caption"]]
                problems.append("no box captioned %s within %d s; visible windows: %s"
                                % (short(title), T_BOX_MS // 1000, short(shown, 600)))
            else:
                if box["text"] != USAGE[lang]:
                    problems.append("text " + first_difference(box["text"] or "", USAGE[lang]))
                if box["icon"] != "information":
                    problems.append("icon is %s, not information (mismatch per mille: %s)"
                                    % (box["icon"], box["icon_scores"]))
                ids = sorted(b["id"] for b in box["buttons"])
                if ids != [IDOK]:
                    problems.append("buttons %s, expected OK only"
                                    % [(b["id"], b["text"]) for b in box["buttons"]])
                # The box stays up until runexit has seen it: this proves that runexit's
                # window watch, which the verify cases rely on, works.
                deadline = time.time() + 10
                while not os.path.exists(seenfile) and time.time() < deadline:
                    time.sleep(0.02)
                if not os.path.exists(seenfile):
                    problems.append("runexit did not notice the box (its window watch is broken)")
                if screenshot:
                    self.screenshot(screenshot)
                prc, _, _ = self.robot(["press", caption_hex, str(IDOK), str(T_BOX_MS)], lang,
                                       T_BOX_MS / 1000 + 30)
                if prc != 0:
                    problems.append("pressing OK failed (robot status %d)" % prc)
                pressed = prc == 0
        finally:
            res = self.end_setup(proc, stopfile, stop_now=not pressed)
        if pressed:
            if res["ended"] != "self":
                problems.append("setup.exe did not end after OK (%s)" % res["ended"])
            elif res["code"] != want_exit:
                problems.append("exit status 0x%08X (%d), expected %d"
                                % (res["code"], res["code"], want_exit))
        return problems

    def verify(self, exe, args, want_exit):
        problems = []
        proc, stopfile, _ = self.start_setup(exe, args, "en", kill_on_window=True)
        res = self.end_setup(proc, stopfile)
        if res["window"] != "no":
            problems.append("a window appeared: %s" % short(res["first_window"]))
        elif res["ended"] != "self":
            problems.append("setup.exe did not end (%s)" % res["ended"])
        elif res["code"] != want_exit:
            problems.append("exit status 0x%08X, expected 0x%08X" % (res["code"], want_exit))
        return problems

    def second_instance(self):
        problems = []
        stem = self.new_tmp("mutex")
        ready, stop = stem + ".ready", stem + ".stop"
        holder = self.start_wine([win_path(os.path.join(self.bin, "holdmutex.exe")),
                                  MUTEX_GLOBAL, win_path(ready), win_path(stop), "60000"])
        try:
            deadline = time.time() + 30
            while not os.path.exists(ready) and time.time() < deadline and holder.poll() is None:
                time.sleep(0.05)
            state = open(ready).read() if os.path.exists(ready) else None
            if state != "created":
                problems.append("holdmutex could not create the mutex (%s, rc %s)"
                                % (state, holder.poll()))
            else:
                proc, stopfile, _ = self.start_setup(self.setup_plain, "", "en",
                                                  kill_on_window=True, timeout_ms=20000)
                res = self.end_setup(proc, stopfile)
                if res["window"] != "no":
                    problems.append("a window appeared: %s" % short(res["first_window"]))
                elif res["ended"] != "self":
                    problems.append("setup.exe did not end (%s)" % res["ended"])
                elif res["code"] != ERROR_INSTALL_ALREADY_RUNNING:
                    problems.append("exit status 0x%08X (%d), expected 1618"
                                    % (res["code"], res["code"]))
        finally:
            open(stop, "w").close()
            rc, _, _ = self.finish(holder, 30)
            if rc != 0 and not problems:
                problems.append("holdmutex ended with %s" % rc)
        return problems

    def screenshot(self, png):
        os.makedirs(self.shots, exist_ok=True)
        if not shutil.which("import"):
            return
        self.log("screenshot %s" % png)
        try:
            subprocess.run(["import", "-display", self.display, "-window", "root",
                            os.path.join(self.shots, png)], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            self.log("screenshot %s timed out" % png)

    def cases(self):
        for lang, args, want in USAGE_CASES:
            shot = "usage-%s.png" % lang if args == SCREENSHOT_ARG else None
            self.case("usage %s %s" % (lang, args), self.usage_box, lang, args, want, shot)

        f, s, NT = self.f, self.setup_signed, TRUST_E_SUBJECT_NOT_TRUSTED
        verify_cases = [
            ("/v file of the same publisher gives 0", s, "/v " + win_path(f["same"]), 0),
            ("/v unsigned file gives 0x800B0004", s, "/v " + win_path(f["unsigned"]), NT),
            ("/v file of a SHA-1-issued leaf under an untrusted root gives 0x800B0004", s,
             "/v " + win_path(f["other"]), NT),
            ("/v file of a SHA-1-issued leaf under the trusted root gives 0", s,
             "/v " + win_path(f["sha1"]), 0),
            ("/v file of another publisher under the trusted root gives 0", s,
             "/v " + win_path(f["third"]), 0),
            ("/v quoted path with blanks", s, '/v "%s"' % win_path(f["blanks"]), 0),
            ("/v file followed by blanks only", s, "/v %s  \t " % win_path(f["same"]), 0),
            ("-v works like /v", s, "-v " + win_path(f["same"]), 0),
            ("/V works like /v", s, "/V " + win_path(f["same"]), 0),
            ("-V works like /v", s, "-V " + win_path(f["same"]), 0),
            ("/V unsigned file gives 0x800B0004", s, "/V " + win_path(f["unsigned"]), NT),
            # An unsigned setup.exe has no signer to compare with: the file's own trust decides.
            ("from an unsigned setup.exe: trusted file gives 0", self.setup_plain,
             "/v " + win_path(f["same"]), 0),
            ("from an unsigned setup.exe: unsigned file gives 0x800B0004", self.setup_plain,
             "/v " + win_path(f["unsigned"]), NT),
        ]
        for name, exe, args, want in verify_cases:
            self.case("verify " + name, self.verify, exe, args, want)

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
            except SetupError as e:
                self.report("setup of %s" % name, [str(e)])

    # --- driver -------------------------------------------------------------------------

    def main(self):
        t0 = time.time()
        try:
            self.check_tools()
            os.makedirs(self.tmp, exist_ok=True)
            self.start_xvfb()
            self.build_helpers()
            self.make_files()
            self.make_prefix()
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
    if keep:
        return
    shots = os.path.join(work, "screenshots")
    has_shots = os.path.isdir(shots) and os.listdir(shots)
    if made and not has_shots:
        shutil.rmtree(work, ignore_errors=True)
        return
    for entry in ("prefix", "bin", "pki", "files", "tmp"):
        shutil.rmtree(os.path.join(work, entry), ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("setup", nargs="?", default=os.path.join(REPO, "out", "setup.exe"),
                    help="setup.exe to test (default: out/setup.exe)")
    ap.add_argument("work", nargs="?", help="work directory (default: a fresh temp dir)")
    ap.add_argument("--work", dest="work_opt", help="work directory")
    ap.add_argument("--arch", choices=("x86", "x64"),
                    help="the setup's architecture (default: read from its PE header)")
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    ap.add_argument("-k", dest="filter", help="run only cases whose name contains this")
    ap.add_argument("-v", "--verbose", action="store_true")
    a = ap.parse_args()

    work = a.work_opt or a.work
    made = False
    if work:
        work = os.path.abspath(work)
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="setup-wine-tests-")
        made = True
    arch = a.arch or pe_arch(a.setup) or "x86"
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
    print("%s: %d passed, %d failed" % (suite.label, suite.passed, suite.failed), flush=True)
    sys.exit(0 if suite.failed == 0 and suite.passed > 0 else 1)


if __name__ == "__main__":
    main()
