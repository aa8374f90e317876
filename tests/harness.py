"""The one harness of the project's tests: the report every runner prints, the processes it
starts, the Wine it runs in, prefixes, the Windows helpers and setup variants built for an
architecture, signing, the tables and package generators, launching the setup with its full
exit status, driving its dialogs and boxes, the expectations cases check, and the local HTTPS
server. Used by the Wine case groups, the resource, release and try runners, make demo and make
bench. Standard library only.

A runner prints one line per case, "PASS [label] name", "FAIL [label] name: why" or
"SKIP [label] name: why", and closes with "label: N passed, M failed, K skipped". An exception
inside a case is that case's failure, with its reason; the run always reaches its closing line.
"""
import contextlib
import hashlib
import json
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import time
import traceback

TESTS = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(TESTS)
HERE = os.path.join(TESTS, "wine")
sys.path[:0] = [TESTS, os.path.join(REPO, "scripts")]
import expected_texts as texts  # noqa: E402
import tables  # noqa: E402  (the release tools' reader and writer of tables sources)

# German has no texts of its own: English is shown.
LOCALES = {"en": "en_US.UTF-8", "sl": "sl_SI.UTF-8", "it": "it_IT.UTF-8", "sq": "sq_AL.UTF-8",
           "de": "de_DE.UTF-8"}


# Cases whose verdict comes from the platform's trust check or from an HTTPS download to the
# local server: they run only when the trust probe saw this Wine answer as measured.
TRUST_GROUPS = ("verify", "download")

# Time limits (seconds unless named _MS).
T_BOX_MS = 20000        # a usage box must appear within this
T_CHILD_MS = 30000      # launch.exe run terminates setup.exe after this
T_WINE_CMD = 90         # any single wine command
T_WINEBOOT = 300        # prefix creation on a slow machine

IDOK = 1
TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004

# What differs between the two builds of the setup.
ARCH_COLUMN = {"x86": 1, "x64": 2}
ARCH_PACKAGE = {"x86": "Lumora.Win32.msi", "x64": "Lumora.x64.msi"}
ARCH_TRIPLET = {"x86": "i686-w64-mingw32", "x64": "x86_64-w64-mingw32"}
ARCH_TOOLCHAIN = {"x86": "mingw-i686.cmake", "x64": "mingw-x86_64.cmake"}
PE_MACHINE_ARCH = {0x14C: "x86", 0x8664: "x64"}


def pe_arch(path):
    """x86 or x64 from a PE file's machine field; None when it is neither."""
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
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def toolchain_major(arch):
    """The major version of the mingw-w64 compiler for arch (12 on Debian 12, 14 on Debian 13)."""
    out = subprocess.run([ARCH_TRIPLET[arch] + "-gcc", "-dumpversion"], stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, text=True, timeout=60).stdout
    return out.strip().split(".")[0].split("-")[0]


def cmake_build(source, build, arch, what, extra=(), timeout=900):
    """Configures and builds the CMake project source for arch with its mingw toolchain. When
    that fails, raises SetupError naming the compiler's error lines; the whole output stays in
    BUILD/failed-build.log."""
    for cmd in (["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_TOOLCHAIN_FILE="
                 + os.path.join(REPO, "cmake", ARCH_TOOLCHAIN[arch])] + list(extra),
                ["cmake", "--build", build]):
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=timeout)
        if p.returncode != 0:
            # The case line names the first errors; the whole output is kept beside the build.
            out = p.stdout.decode(errors="replace")
            log = os.path.join(build, "failed-build.log")
            os.makedirs(build, exist_ok=True)
            with open(log, "w") as f:
                f.write(out)
            errors = [line.strip() for line in out.splitlines() if re.search(r"\berror:", line)][:3]
            raise SetupError("building %s failed: %s (%s)" % (what, " | ".join(errors) or out[-300:], log))


def build_helpers(arch):
    """Builds tests/wine's Windows programs for arch; returns their directory."""
    out = os.path.join(REPO, "build", "wine-helpers-" + arch)
    cmake_build(HERE, out, arch, "the %s helpers" % arch)
    return out


class SetupError(Exception):
    """A step of the harness failed: while building the environment it ends the run,
    inside a case it fails that case."""


def win_path(unix_path):
    """Z: path of a Unix path, computed by hand: winepath would start a wineserver."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def wait_until(ready, timeout, step=0.02, give_up=None):
    """Polls ready() until it holds, timeout seconds pass or give_up() holds (a process that
    ended, say); returns ready()'s last answer. Every wait of the harness is bounded so."""
    deadline = time.time() + timeout
    while not ready() and time.time() < deadline and not (give_up and give_up()):
        time.sleep(step)
    return ready()


def expect_exit(problems, res, want):
    """launch.exe's report res: the setup ended by itself, with the exit status want."""
    if res["ended"] != "self":
        problems.append("setup.exe did not end by itself (%s; first window: %s)"
                        % (res["ended"], short(res.get("first_window", ""))))
    elif res["code"] != want:
        problems.append("exit status 0x%08X (%d), expected 0x%08X (%d)" % (res["code"], res["code"],
                                                                          want, want))


def expect_list(problems, what, got, want):
    """Lists that must be equal: a difference names the entries that differ."""
    if got != want:
        parts = ["#%d got %r, expected %r" % (i + 1, g, w) for i, (g, w) in enumerate(
            (got[i] if i < len(got) else "(none)", want[i] if i < len(want) else "(none)")
            for i in range(max(len(got), len(want)))) if g != w]
        problems.append("%s differ (%d, expected %d): %s" % (what, len(got), len(want), "; ".join(parts)))


def short(text, limit=400):
    r = repr(text)
    return r if len(r) <= limit else r[:limit] + "..."


def first_difference(got, want):
    n = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return ("differs at character %d: got %s, expected %s (full text: %s)"
            % (n, short(got[n:n + 30]), short(want[n:n + 30]), short(got, 600)))


# Wine's virtual desktop process, started for the first window of a fresh prefix.
WINE_DESKTOP = re.compile(r'"?C:\\windows\\system32\\explorer\.exe"? /desktop.*', re.I)
WINE_DESKTOP_IMAGE = re.compile(r'C:\\windows\\(system32|syswow64)\\explorer\.exe', re.I)


def launched_children(lines, trace):
    """The "child ..." lines of launch.exe children as [{"exit", "cmdline"}], Wine's desktop
    left out. A command line launch.exe could not read comes from Wine's +process trace,
    where each thread's "CreateProcessInternalW app ... cmdline L"..."" line is followed by its
    "started process pid XXXX" line, or else the image path stands in."""
    pending, traced, found = {}, {}, []
    for line in trace.splitlines():
        m = re.match(r'([0-9a-f]+):trace:process:CreateProcessInternalW (?:app .*? cmdline L"(.*)"$|'
                     r'started process pid ([0-9a-f]+))', line)
        if m and m.group(2) is not None:
            pending[m.group(1)] = re.sub(r'\\(.)', r'\1', m.group(2))
        elif m and m.group(1) in pending:
            traced[int(m.group(3), 16)] = pending.pop(m.group(1))
    for line in (line for line in lines if line.startswith("child ")):
        m = re.match(r'child pid=(\d+) exit=(\S+) image=(?:"(.*?)"|\?) cmdline=(?:"(.*)"|\?)$', line)
        if not m:
            raise SetupError("launch.exe children said %r" % line)
        cmdline = m.group(4) or traced.get(int(m.group(1))) or m.group(3)
        if WINE_DESKTOP.fullmatch(cmdline or "") or (
                not m.group(4) and WINE_DESKTOP_IMAGE.fullmatch(m.group(3) or "")):
            continue
        code = int(m.group(2), 16) if m.group(2).startswith("0x") else m.group(2)
        found.append({"exit": code, "cmdline": cmdline})
    return found


class Once:
    """A group's preparation, run by its first case; when it fails, that case and every later
    one fails with its reason (a setup variant that does not build, say)."""

    def __init__(self, prepare):
        self.prepare, self.done, self.failed = prepare, False, None

    def __call__(self):
        if self.failed:
            raise SetupError("preparation failed earlier: %s" % self.failed)
        if not self.done:
            try:
                self.prepare()
            except Exception as e:  # noqa: BLE001 - every case of the group reports it
                self.failed = str(e) if isinstance(e, SetupError) else "%s: %s" % (type(e).__name__, e)
                raise SetupError(self.failed)
            self.done = True


class Report:
    """Counts and prints cases. label names the platform of the run ("wine8 x64"); filt keeps
    only the cases whose name contains it."""

    def __init__(self, label="", filt=None, verbose=False):
        self.label, self.filter, self.verbose = label, filt, verbose
        self.passed = self.failed = self.skipped = 0

    def tag(self):
        return " [%s]" % self.label if self.label else ""

    def wanted(self, name):
        return not self.filter or self.filter in name

    def report(self, name, problems):
        if problems:
            self.failed += 1
            # One line per case, whatever a problem holds.
            print("FAIL%s %s: %s" % (self.tag(), name, "; ".join(problems).replace("\n", " / ")),
                  flush=True)
        else:
            self.passed += 1
            print("PASS%s %s" % (self.tag(), name), flush=True)
        return not problems

    def check(self, name, ok, why=""):
        """A case decided by one condition; why is printed when it fails."""
        return self.report(name, [] if ok else [why or "check failed"])

    def skip(self, name, reason):
        self.skipped += 1
        print("SKIP%s %s: %s" % (self.tag(), name, reason), flush=True)

    def log(self, msg):
        if self.verbose:
            print("  [%s] %s" % (time.strftime("%H:%M:%S"), msg), flush=True)

    def case(self, name, body, *args, **kw):
        """Runs one case: body returns its problems (an empty list or None passes). Any
        exception inside it fails this case with the reason, and the run goes on."""
        if not self.wanted(name):
            return None
        self.log("case: %s" % name)
        try:
            problems = self.refuse(name) or body(*args, **kw) or []
        except Exception as e:  # noqa: BLE001 - a broken case must not end the run
            problems = ["%s: %s" % (type(e).__name__, e)]
            self.log(traceback.format_exc())
        return self.report(name, problems)

    def refuse(self, name):
        """Problems that fail a case before it runs (none here)."""
        return None

    def table(self, title, rows, body, flip):
        """Cases that differ only in data: each row (name, *args) is the case "title: name",
        run as body(*args). Then the table's self-check: the row named flip[0] runs again with
        flip[1](args), its expected result changed, and must fail, so that a table whose
        checks cannot fail is seen."""
        ran = [row for row in rows if self.wanted("%s: %s" % (title, row[0]))]
        for name, *args in ran:
            self.case("%s: %s" % (title, name), body, *args)
        for name, *args in (row for row in ran if row[0] == flip[0]):
            def flipped():
                got = body(*flip[1](list(args)))
                return [] if got else ["the row passed with its expected result changed"]
            self.case("%s: self-check: %s, its expected result changed, fails" % (title, name),
                      flipped)

    def closing(self):
        """The closing line; returns the exit status (0 only when something passed and
        nothing failed)."""
        print("%s%d passed, %d failed, %d skipped" % (self.label + ": " if self.label else "", self.passed,
                                                      self.failed, self.skipped), flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


class Wine:
    """The Wine of a Debian root (tests/wine/roots.sh run names it in KAVRIN_WINE_ROOT and
    KAVRIN_WINE_VERSION) for one architecture of the setup: x86 in a win32 prefix, x64 in a
    win64 prefix with 64-bit Wine (tests/wine/bin/wine picks it by KAVRIN_WINE_ARCH).

    How it trusts a test CA: Wine 8 honours a root CA put into the prefix's registry; Wine 10
    does not (neither the registry blob nor the store API) but takes the system trust store of
    the Debian root it runs in, read when the prefix is made. The host's store is never
    touched."""

    def __init__(self, arch, root=None, version=None):
        self.arch = arch
        self.root = root or os.environ.get("KAVRIN_WINE_ROOT", "")
        self.version = version or os.environ.get("KAVRIN_WINE_VERSION", "")
        self.major = int(self.version.split(".")[0]) if self.version[:1].isdigit() else 0
        self.label = ("wine%d" % self.major if self.major else "wine") + " " + arch
        self.prefix_arch = "win64" if arch == "x64" else "win32"
        self.trusts_system_store = self.major >= 10

    def env(self, prefix, lang="en", display=""):
        e = {k: v for k, v in os.environ.items() if not (k.startswith("LC_") or k in ("LANG", "LANGUAGE"))}
        e.update({"WINEPREFIX": prefix, "WINEARCH": self.prefix_arch, "KAVRIN_WINE_ARCH": self.arch,
                  "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
                  "DISPLAY": display or "", "LC_ALL": LOCALES[lang]})
        return e

    def trust_before_boot(self, runner, cas):
        """Wine 10: the CAs (PEM files) into the root's system store, before a prefix is made.
        Returns the files added there."""
        if not self.trusts_system_store:
            return []
        if not self.root:
            raise SetupError("Wine %s takes its trusted roots from its Debian root, and this run "
                             "has none (run it through tests/wine/roots.sh run)" % self.version)
        store = os.path.join(self.root, "usr", "local", "share", "ca-certificates")
        os.makedirs(store, exist_ok=True)
        added = []
        for ca in cas:
            # Named by its content: runs in parallel each keep their own CA trusted.
            digest = hashlib.sha1(open(ca, "rb").read()).hexdigest()[:16]
            added.append(os.path.join(store, "kavrin-test-ca-%s.crt" % digest))
            shutil.copyfile(ca, added[-1])
        self.update_store(runner)
        return added

    def update_store(self, runner):
        runner.run(["chroot", self.root, "update-ca-certificates", "--fresh"], 300,
                   what="update-ca-certificates in the Debian root")

    def trust_after_boot(self, runner, cas, env):
        """Wine 8: each CA's registry blob into the made prefix's Root store: the little-endian
        words 0x20 (property: encoded certificate), 1 and the DER's length, then the DER."""
        if self.trusts_system_store:
            return
        for ca in cas:
            der = runner.run(["openssl", "x509", "-in", ca, "-outform", "DER"], 60).stdout
            blob = struct.pack("<III", 0x20, 1, len(der)) + der
            key = ("HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
                   + hashlib.sha1(der).hexdigest().upper())
            runner.run(["wine", "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(),
                        "/f"], T_WINE_CMD, env=env, what="reg add of a trusted root")
            if runner.run(["wine", "reg", "query", key], T_WINE_CMD, env=env, check=False).returncode:
                raise SetupError("the CA %s is not in the prefix's Root store" % ca)


class Suite(Report):
    """A run of Wine cases for one setup executable: its work directory, Xvfb, helpers, test
    PKI, prefix and every step the case groups share."""

    def __init__(self, setup_exe, work, keep=False, filt=None, verbose=False, arch="x86"):
        self.wine_of_run = Wine(arch)
        Report.__init__(self, self.wine_of_run.label, filt, verbose)
        # The setup's architecture: x86 runs in a win32 prefix, x64 in a win64 prefix with
        # 64-bit Wine. Every helper is built for it, and packages come from its column.
        self.setup_src, self.work, self.keep, self.arch = setup_exe, work, keep, arch
        self.column, self.package_file = ARCH_COLUMN[arch], ARCH_PACKAGE[arch]
        for name in ("prefix", "bin", "pki", "files", "tmp"):
            setattr(self, name, os.path.join(work, name))
        self.shots = os.path.join(work, "screenshots")
        self.xvfb = self.display = self.trust_problem = None
        self.winearch = None  # another kind of prefix than the architecture's, meanwhile
        self.seq, self.wine_version = 0, self.wine_of_run.version

    def refuse(self, name):
        if self.trust_problem and name.startswith(TRUST_GROUPS):
            return [self.trust_problem]
        return None

    # --- processes ----------------------------------------------------------------------

    def env(self, lang="en", prefix=None):
        e = self.wine_of_run.env(prefix or self.prefix, lang, self.display)
        e["WINEARCH"] = self.winearch or e["WINEARCH"]
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
        Returns (exit status or None when killed, stdout bytes, stderr bytes); asked again,
        the same answer (its output files are closed by then)."""
        if getattr(proc, "ended", None):
            return proc.ended
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
        proc.ended = (rc, *data)
        return proc.ended

    def new_tmp(self, stem):
        os.makedirs(self.tmp, exist_ok=True)
        self.seq += 1
        return os.path.join(self.tmp, "%03d-%s" % (self.seq, stem))

    # --- environment --------------------------------------------------------------------

    def prepare(self):
        """The environment of a run: tools, Xvfb, the helpers, the test PKI and files, the prefix."""
        self.check_tools()
        os.makedirs(self.tmp, exist_ok=True)
        self.start_xvfb()
        self.build_helpers()
        self.make_files()
        self.make_prefix()

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
        # Small PE files to verify: copies of a helper, unsigned or signed by a leaf.
        pe = os.path.join(self.bin, "products.exe")
        signers = {"unsigned": None, "same": "leaf", "third": "leaf3", "other": "leaf2", "sha1": "leaf1"}
        f = self.f = {key: os.path.join(self.files, key + ".exe") for key in signers}
        for key, leaf in signers.items():
            self.sign(leaf, pe, f[key]) if leaf else shutil.copyfile(pe, f[key])
        f["blanks"] = os.path.join(blanks, "same signed.exe")
        shutil.copyfile(f["same"], f["blanks"])
        # The signatures themselves, checked on the host first.
        ca, ca2 = (os.path.join(self.pki, name) for name in ("ca.pem", "ca2.pem"))
        for path, root in ((self.setup_signed, ca), (f["same"], ca), (f["third"], ca),
                           (f["sha1"], ca), (f["other"], ca2)):
            self.run(["osslsigncode", "verify", "-CAfile", root, "-in", path], 60,
                     what="osslsigncode verify %s" % os.path.basename(path))

    def make_prefix(self, cas=None):
        """The run's prefix, trusting the CAs (PEM files; by default the test CA), with Wine's
        virtual desktop. Returns the files added to the Debian root's trust store (Wine 10)."""
        os.makedirs(self.prefix, exist_ok=True)
        t = time.time()
        cas = cas or [os.path.join(self.pki, "ca.pem")]
        added = self.wine_of_run.trust_before_boot(self, cas)
        self.boot_prefix()
        self.wine_of_run.trust_after_boot(self, cas, self.env())
        # Wine's virtual desktop, so that screenshots show window captions.
        self.reg_add("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default")
        self.reg_add("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "1024x768")
        self.run(["wineserver", "-w"], T_WINE_CMD, env=self.env(), what="wineserver -w")
        self.log("prefix ready in %.1f s" % (time.time() - t))
        return added

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
            self.trust_problem = ("the trust probe under Wine %s is not answered as measured (%s): "
                                  "the setup maps a verdict wrongly, or the test CA is not trusted "
                                  "the way this Wine honours, or its trust check changed"
                                  % (self.wine_version, "; ".join(seen)))
        self.report("trust probe: unsigned and untrusted-root controls refused, trusted-root "
                    "control accepted", [self.trust_problem] if self.trust_problem else [])

    def boot_prefix(self):
        """Makes the current prefix (wineboot -i) and waits until it is at rest."""
        self.run(["wineboot", "-i"], T_WINEBOOT, env=self.env(), what="wineboot -i")
        self.run(["wineserver", "-w"], T_WINEBOOT, env=self.env(), what="wineserver -w")

    @contextlib.contextmanager
    def own_prefix(self, path, template=None, winearch=None):
        """The prefix of one case at path, the current one meanwhile: a copy of template (by
        default the current prefix), or with winearch a new prefix of that kind (win64: an x64
        system for the x86 build). Afterwards its wineserver is stopped and it is removed."""
        saved, saved_arch = self.prefix, self.winearch
        try:
            if winearch:
                shutil.rmtree(path, ignore_errors=True)
                self.prefix, self.winearch = path, winearch
                self.boot_prefix()
            else:
                self.prefix = self.copy_prefix(path, template or saved)
            yield path
        finally:
            self.stop_wineserver(path)
            self.prefix, self.winearch = saved, saved_arch
            if not self.keep:
                shutil.rmtree(path, ignore_errors=True)

    def host_path(self, path):
        """The host path of a C: path of the current prefix or of a Z: path."""
        drive, rest = path[:3].upper(), path[3:].split("\\")
        if drive == "C:\\":
            return os.path.join(self.prefix, "drive_c", *rest)
        if drive == "Z:\\":
            return "/" + "/".join(rest)
        raise SetupError("not a C: or Z: path: %s" % path)

    def copy_prefix(self, dst, src=None):
        """A copy of a prefix at rest (its wineserver stopped first)."""
        src = src or self.prefix
        self.stop_wineserver(src)
        shutil.rmtree(dst, ignore_errors=True)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        self.run(["cp", "-a", src, dst], 300, what="copying the prefix")
        return dst

    def reg_add(self, key, name, data, kind="REG_SZ", lang="en"):
        self.wine(["reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"], lang=lang)

    def stop_wineserver(self, prefix=None):
        """Ends the wineserver of a prefix (default the current one) and waits for it."""
        prefix = prefix or self.prefix
        if not os.path.isdir(prefix):
            return
        for step in ("-k", "-w"):
            try:
                subprocess.run(["wineserver", step], env=self.env(prefix=prefix), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except (subprocess.TimeoutExpired, OSError):
                pass

    # --- helpers inside the prefix --------------------------------------------------------

    def start_setup(self, exe, args="", lang="en", kill_on_window=False, timeout_ms=T_CHILD_MS,
                    overrides="", cwd=None, children=False):
        """Starts `launch.exe run` on `"EXE" ARGS` (in cwd, with further WINEDLLOVERRIDES), or
        with children `launch.exe children`; the process carries its stop and seen files."""
        stem = self.new_tmp("run")
        with open(stem + ".cmd", "w", encoding="utf-8") as fh:
            fh.write('"%s"' % win_path(exe) + (" " + args if args else ""))
        argv = [self.tool("launch.exe"), "children" if children else "run",
                "--stop", win_path(stem + ".stop")]
        if not children:
            argv += ["--seen", win_path(stem + ".seen")] + (["--kill-on-window"] if kill_on_window else [])
        env = self.env(lang)
        env["WINEDLLOVERRIDES"] += overrides and ";" + overrides
        if children:
            # Wine's process trace names every command line as the process is created: it stands
            # in when a child ends before launch.exe could read the command line from it.
            env["WINEDEBUG"] = "-all,+process"
        proc = self.start(["wine"] + argv + [win_path(stem + ".cmd"), str(timeout_ms)], env, cwd)
        proc.stopfile, proc.seenfile, proc.timeout_ms = stem + ".stop", stem + ".seen", timeout_ms
        return proc

    def end_setup(self, proc, stop_now=False):
        """Waits for launch.exe; returns its report as a dict (with children: "processes", each
        {"exit", "cmdline"} in start order, Wine's own desktop process left out), or raises
        SetupError."""
        if stop_now:
            open(proc.stopfile, "w").close()
        rc, out, err = self.finish(proc, proc.timeout_ms / 1000 + 30)
        if rc is None:
            raise SetupError("launch.exe did not end")
        lines = out.decode("utf-8", errors="replace").strip().splitlines()
        res = {"processes": launched_children(lines[:-1], err.decode("utf-8", errors="replace"))}
        for part in (lines or [""])[-1].split(" "):
            if "=" in part:
                k, v = part.split("=", 1)
                res.setdefault(k, v)
        if "exit" not in res:
            raise SetupError("launch.exe said %s %s"
                             % (short(lines[-3:]), short(err.decode(errors="replace")[-300:])))
        if "first_window=" in lines[-1]:
            res["first_window"] = lines[-1].split("first_window=", 1)[1].strip('"')
        res["code"] = int(res["exit"], 16)
        return res

    def run_setup(self, exe, args="", lang="en", interact=None, want_exit=None, **start):
        """Starts the setup (start_setup's options); interact(proc, problems) acts on its
        windows and returns whether the setup should now end by itself, else it is stopped.
        want_exit: the exit status it must then have. Returns (problems, launch.exe's report)."""
        problems, ends = [], False
        proc = self.start_setup(exe, args, lang, **start)
        try:
            ends = interact is None or interact(proc, problems)
        finally:
            res = self.end_setup(proc, stop_now=not ends)
        if want_exit is not None:
            expect_exit(problems, res, want_exit)
        return problems, res

    def tool(self, name):
        """The Windows path of a helper in bin/."""
        return win_path(os.path.join(self.bin, name))

    def dialogs(self, verb, caption, *args, lang="en", timeout=T_WINE_CMD):
        """dialogs.exe VERB CAPTION ARGS: (exit status, its JSON or None, its raw output). The
        observer itself is asked once more when its start in the prefix overran the limit (seen
        once in a cold prefix copy); a second overrun fails the case."""
        argv = [self.tool("dialogs.exe"), verb, caption.encode().hex()] + [str(a) for a in args]
        try:
            p = self.wine(argv, timeout=timeout, lang=lang, check=False)
        except SetupError as e:
            self.log("dialogs.exe %s overran (%s); asking once more" % (verb, e))
            p = self.wine(argv, timeout=timeout, lang=lang, check=False)
        text = p.stdout.decode("utf-8", errors="strict").strip()
        try:
            data = json.loads(text.splitlines()[-1]) if text else None
        except ValueError:
            data = None
        return p.returncode, data, text

    def press(self, problems, caption, button, what, lang="en", timeout_ms=20000):
        """Presses button on the dialog captioned caption; a failure is a problem. Returns
        whether it was pressed."""
        rc, _, raw = self.dialogs("press", caption, button, timeout_ms, lang=lang,
                                  timeout=timeout_ms / 1000 + 30)
        if rc != 0:
            problems.append("pressing %s failed (dialogs.exe status %d): %s" % (what, rc, short(raw[-300:])))
        return rc == 0

    def expect_box(self, problems, caption, text, icon, buttons, press, lang="en",
                   timeout_ms=20000, while_up=None, box_only=True):
        """The first visible message box captioned caption (box_only=False: any such dialog)
        must show text (a string, or a pattern the whole text matches), the standard icon and
        the buttons (sorted ids); then button press is pressed, after while_up() (which returns
        more problems) when given. Adds what differs to problems; returns the text shown, or
        None when no box came or pressing failed."""
        extra = (["--box"] if box_only else []) + ([] if while_up else ["--press", press])
        rc, box, raw = self.dialogs("inspect", caption, timeout_ms, *extra, lang=lang,
                                    timeout=timeout_ms / 1000 + 40)
        if not box or not box.get("found"):
            shown = [(w["class"], w["caption"]) for w in (box or {}).get("windows", [])
                     if w["class"] == "#32770" or w["caption"]]
            problems.append("no box captioned %s within %d s (visible windows: %s): %s"
                            % (short(caption), timeout_ms // 1000, short(shown, 600), short(raw[-300:])))
            return None
        got = box["text"] or ""
        if hasattr(text, "fullmatch"):
            if not text.fullmatch(got):
                problems.append("box text %s, expected the pattern %s" % (short(got), short(text.pattern)))
        elif got != text:
            problems.append("box text " + first_difference(got, text))
        if box["icon"] != icon:
            problems.append("box icon %s, expected %s (mismatch per mille: %s)"
                            % (box["icon"], icon, box.get("icon_scores")))
        ids = sorted(b["id"] for b in box["buttons"])
        if ids != buttons:
            problems.append("box buttons %s, expected %s" % (ids, buttons))
        if while_up:
            problems.extend(while_up())
            pressed = self.press(problems, caption, press, "%d on the box" % press, lang, timeout_ms)
            return got if pressed else None
        if rc != 0:
            problems.append("pressing %d on the box failed (dialogs.exe status %d)" % (press, rc))
            return None
        return got

    def products(self, verb, *args):
        """products.exe VERB ARGS (state, install, remove) in the current prefix: its output."""
        p = self.wine([self.tool("products.exe"), verb] + list(args), timeout=120, check=False)
        return p.stdout.decode("utf-8", errors="replace").strip()

    def product_state(self, code):
        """MsiQueryProductStateW of code (5 installed, -1 unknown) and its install source."""
        fields = self.products("state", code).split(" ", 2)
        if len(fields) < 3 or not fields[1].lstrip("-").isdigit():
            raise SetupError("products.exe state said %s" % short(" ".join(fields)))
        return int(fields[1]), fields[2]

    def verify(self, exe, args, want_exit, timeout_ms=T_CHILD_MS):
        """Runs the setup, which must end by itself with want_exit and show no window."""
        problems, res = self.run_setup(exe, args, kill_on_window=True, timeout_ms=timeout_ms)
        if res["window"] != "no":
            return ["a window appeared: %s" % short(res["first_window"])]
        expect_exit(problems, res, want_exit)
        return problems

    @contextlib.contextmanager
    def https_server(self, files, port, status=None, delay_ms=0, faults=(), lifetime=900):
        """tests/wine/https_server.py on 127.0.0.1:port with the test PKI's server certificate,
        serving files ({name: source path}); status {name: HTTP status}. Yields a function
        returning the request lines logged so far; the server ends with the block."""
        stem = self.new_tmp("server")
        root = stem + ".files"
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        for name, src in files.items():
            shutil.copyfile(src, os.path.join(root, name))
        log, port_file = stem + ".log", stem + ".port"
        args = [sys.executable, os.path.join(HERE, "https_server.py"), "--dir", root,
                "--cert", os.path.join(self.pki, "server.pem"), "--key", os.path.join(self.pki, "server.key"),
                "--port", str(port), "--port-file", port_file, "--log", log, "--lifetime", str(lifetime)]
        args += ["--status=%s=%d" % item for item in (status or {}).items()]
        args += (["--delay-ms", str(delay_ms)] if delay_ms else []) + list(faults)
        proc = self.start(args)
        try:
            if not wait_until(lambda: os.path.exists(port_file), 15, 0.05, lambda: proc.poll() is not None):
                _, _, err = self.finish(proc, 5)
                raise SetupError("the HTTPS server did not start on port %d: %s"
                                 % (port, err.decode(errors="replace")[-400:]))

            def requests():
                if not os.path.exists(log):
                    return []
                with open(log, encoding="utf-8") as f:
                    return f.read().splitlines()
            yield requests
        finally:
            if proc.poll() is None:
                proc.terminate()
            self.finish(proc, 10)

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



# --- setup variants, tables and packages -----------------------------------------------------

SOURCES = os.path.join(REPO, "build", "wine-variants", "tables")
HEADER = '#include "vocabulary/setup_config.h"\n\n'


def build_variants(tables, arch):
    """tables: {name: C++ source text}; arch: x86 or x64, each with its own build directory.
    Returns {name: path of its setup executable}.

    A variant is named by its name and a hash of its source (setup-NAME-HASH.exe), so two
    groups of cases that ask for one name with different tables get two executables, never
    each other's. Raises SetupError with the build output's tail when the build fails."""
    os.makedirs(SOURCES, exist_ok=True)
    stems, written = {}, []
    for name, text in sorted(tables.items()):
        content = HEADER + text
        stem = "%s-%s" % (name, hashlib.sha1(content.encode("utf-8")).hexdigest()[:10])
        path = os.path.join(SOURCES, stem + ".cpp")
        if not os.path.exists(path):
            with open(path + ".tmp", "w") as f:
                f.write(content)
            os.replace(path + ".tmp", path)
            written.append(path)
        stems[name] = stem
    # Keep the other variants of this build directory in the list, so that two groups of
    # cases asking one after the other do not rebuild each other's executables.
    known = sorted(os.path.join(SOURCES, f) for f in os.listdir(SOURCES) if f.endswith(".cpp"))
    build = os.path.join(REPO, "build", "wine-variants", arch)
    try:
        cmake_build(REPO, build, arch, "setup variants", ["-DCMAKE_BUILD_TYPE=MinSizeRel",
                                                          "-DKAVRIN_TABLE_VARIANTS=" + ";".join(known)])
    except SetupError:
        # A source that does not build would fail every later build of the directory.
        for path in written:
            os.remove(path)
        raise
    return {name: os.path.join(build, "setup-%s.exe" % stem) for name, stem in stems.items()}


ROW_FIELDS = ("downloadUrl", "operation", "productName", "properties", "expectedVersion", "askFirst",
              "uiLevel")


def tables_source(rows, redist_url="https://127.0.0.1:9/MSI/2.0/", min_engine=200):
    """The C++ tables of a setup variant, written by the release tools' own writer
    (scripts/tables.py). rows: (download address, operation, product, properties, expected
    version, ask first, UI level, languages), each language (id, name, package files, patch
    files), the files a list of the four columns or None."""
    def language(lang_id, name, packages, patches):
        return {"langId": lang_id, "languageName": name, "packageFiles": packages or [None] * 4,
                "patchFiles": patches or [None] * 4}
    return tables.source({
        "redistBaseUrl": redist_url, "redistNonNtFile": "InstMSIA.exe", "redistNtFile": "InstMSIW.exe",
        "minEngineVersion": min_engine,
        "packages": [dict(zip(ROW_FIELDS, row[:7]), languages=[language(*lang) for lang in row[7]])
                     for row in rows]})


def in_column(column, name):
    """A file name in one column of the four."""
    return [name if i == column else None for i in range(4)]


LUMORA_FILES = [None, "Lumora.Win32.msi", "Lumora.x64.msi", "Lumora.ARM64.msi"]


def lumora_download_tables(port, min_engine=200, ask_first=False):
    """The built-in Lumora row (every column's package), its addresses on a local server; with
    ask_first the row asks before its package."""
    return tables_source([("https://localhost:%d/prenos/?verzija=5.1&paket=" % port, "INSTALL",
                           "Quorvex Lumora", None, "5.1", int(ask_first), 5,
                           [(1060, "Slovenščina", LUMORA_FILES, None)])],
                         "https://localhost:%d/MSI/2.0/" % port, min_engine)


def lumora_package(suite, directory, pad_mib=0, version="5.1", product_code=None,
                   text="Quorvex Lumora 5.1\n", component="{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}"):
    """Builds the Lumora package of suite's architecture in directory (by default 5.1; another
    version is another product of the same family), installing lumora.txt with text and a
    random padding file of pad_mib MiB (random, so that the cabinet cannot shrink it). Returns
    its path (directory/Lumora.Win32.msi or Lumora.x64.msi)."""
    os.makedirs(directory, exist_ok=True)
    files = [("ReadMe", "lumora.txt", "lumora.txt")]
    with open(os.path.join(directory, "lumora.txt"), "w") as f:
        f.write(text)
    if pad_mib:
        with open(os.path.join(directory, "lumora.dat"), "wb") as f:
            f.write(os.urandom(pad_mib << 20))
        files.append(("Pad", "lumora.dat", "lumora.dat"))
    x64 = suite.arch == "x64"
    with open(os.path.join(directory, "lumora.wxs"), "w") as f:
        f.write(package_wxs("Quorvex Lumora", product_code or LUMORA_PRODUCT_CODE,
                            "{0E6A3F2C-8D49-4F0B-B1C7-6A2D4C9E5100}", component, version,
                            ("Quorvex", "Lumora"), files, cabinet="lumora.cab", x64=x64))
    msi = os.path.join(directory, suite.package_file)
    suite.run(["wixl"] + (["-a", "x64"] if x64 else []) + ["-o", msi, "lumora.wxs"], 300,
              what="wixl lumora.wxs", cwd=directory)
    return msi


LUMORA_PRODUCT_CODE = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5101}"


def package_wxs(product, product_code, upgrade_code, component_guid, version, folders, files,
                language=1033, cabinet="package.cab", x64=False):
    """WiX source of a one-component test package for wixl.

    folders: the install folder's path under Program Files, e.g. ("Quorvex", "Lumora");
    files: (id, name, source) of each file, the first one the component's key path; x64: a
    64-bit component under the 64-bit Program Files (build it with `wixl -a x64`)."""
    dirs = [("INSTALLDIR" if n == len(folders) - 1 else "%sDir" % name.replace(" ", ""), name)
            for n, name in enumerate(folders)]
    pad = "  " * (len(dirs) + 4)
    entries = "".join('%s  <File Id="%s" Name="%s" Source="%s"%s/>\n'
                      % (pad, fid, name, source, ' KeyPath="yes"' if n == 0 else "")
                      for n, (fid, name, source) in enumerate(files))
    opening = "".join('%s<Directory Id="%s" Name="%s">\n' % ("  " * (n + 4), did, name)
                      for n, (did, name) in enumerate(dirs))
    closing = "".join("%s</Directory>\n" % ("  " * (n + 4)) for n in reversed(range(len(dirs))))
    return """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="%(code)s" Name="%(product)s" Language="%(language)d" Version="%(version)s"
           Manufacturer="Quorvex" UpgradeCode="%(upgrade)s">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="%(cabinet)s" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="%(pf)s">
%(opening)s%(pad)s<Component Id="Main" Guid="%(component)s"%(win64)s>
%(entries)s%(pad)s</Component>
%(closing)s      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
""" % {"code": product_code, "product": product, "language": language, "version": version,
       "upgrade": upgrade_code, "cabinet": cabinet,
       "pf": "ProgramFiles64Folder" if x64 else "ProgramFilesFolder", "opening": opening,
       "pad": pad, "component": component_guid, "win64": ' Win64="yes"' if x64 else "",
       "entries": entries, "closing": closing}


# --- the probe of 32-bit x86 code ------------------------------------------------------------

def ia32_refused():
    """Why this machine cannot run 32-bit x86 code (tests/wine/ia32_probe.c), or None when it
    can: the x86 setup runs under Wine only where it can."""
    probe = os.path.join(REPO, "build", "ia32_probe")
    os.makedirs(os.path.dirname(probe), exist_ok=True)
    subprocess.run(["gcc", "-O1", "-o", probe, os.path.join(HERE, "ia32_probe.c")], check=True)
    p = subprocess.run([probe], stdout=subprocess.PIPE, text=True)
    # Any other end than "runs" keeps the x86 level off, with the reason shown.
    return None if p.returncode == 0 else (p.stdout.strip() or "the probe of 32-bit x86 code "
                                           "ended with status %d" % p.returncode)


if __name__ == "__main__" and sys.argv[1:] == ["ia32"]:
    # tests/run.sh asks here: prints the reason and exits 1 when 32-bit code cannot run.
    reason = ia32_refused()
    print(reason or "32-bit x86 code runs")
    sys.exit(1 if reason else 0)
