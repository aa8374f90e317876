"""Downloads over HTTPS and the Windows Installer engine upgrade, with the real setup.exe.

Two setup variants are built whose package address is
"https://localhost:PORT/prenos/?verzija=5.1&paket=" and whose redistributable address is
"https://localhost:PORT/MSI/2.0/" (the second one also asks for an engine newer than any
there is, so that the upgrade always runs), and each is signed by the test publisher.
tests/wine/https_server.py serves the packages on 127.0.0.1 with a certificate of the test
CA for localhost; every case starts and stops its own server, by pid, with a bounded
lifetime.

Every case runs in its own copy of the suite's prefix (the product gets installed, the
download cache fills) and checks what the user sees (each message box's exact text, icon
and buttons, through robot.exe), the full 32-bit exit status, whether the product got
installed (msistate.exe asks the engine, and from where it was installed), the requests
the server saw, and for the engine upgrade which processes the setup started and with
which command lines (childwatch.exe) and what the test redistributable (fake_instmsi.c)
was run with.
"""
import contextlib
import glob
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import time

import variants

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SERVER = os.path.join(HERE, "https_server.py")
sys.path.insert(0, os.path.dirname(HERE))
import expected_texts as texts  # noqa: E402

PREFERRED_PORT = 47815   # compiled into the variants; another free port when it is taken

TITLE = texts.title("en")
TITLE_HEX = TITLE.encode().hex()
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7

PRODUCT = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5101}"      # Lumora 5.1
OLD_PRODUCT = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5100}"  # the local copy of version 5.1.0
INSTALLED_FILE = os.path.join("drive_c", "Program Files", "Quorvex", "Lumora", "lumora.txt")
TEXT_51 = "Quorvex Lumora 5.1\n"
TEXT_510 = "Quorvex Lumora 5.1.0, left beside the setup\n"

PACKAGE = "Lumora.Win32.msi"
QUERY = "/prenos/?verzija=5.1&paket=" + PACKAGE
REDIST = "InstMSIW.exe"
REDIST_PATH = "/MSI/2.0/" + REDIST

# What the user must see.
NOT_TRUSTED = re.compile(r"Installation failed\. '(C:\\users\\[^\\']+\\AppData\\Local\\Microsoft"
                         r"\\Windows\\INetCache\\[^']+)' is not trusted\.")
PACKAGE_NOT_FOUND = texts.as_format("en", 13)
CANCELLED = texts.text("en", 24)
UPGRADE_PROMPT = texts.text("en", 33)
RESTART_PROMPT = texts.text("en", 30)
INVALID_INSTMSI = texts.as_format("en", 31)
INSTMSI_NOT_FOUND = texts.as_format("en", 28)
PROGRESS_TITLE = texts.as_format("en", 16) % "Quorvex Lumora"
PROGRESS_STATUS = texts.as_format("en", 18) % PACKAGE
REDIST_CMDLINE = '"%s" /c:"msiinst /delayreboot"'
VERIFY_CMDLINE = '"%s" /v "%s"'
CACHE_PATH = re.compile(r"C:\\users\\[^\\]+\\AppData\\Local\\Microsoft\\Windows\\INetCache\\.+")

NOT_TRUSTED_STATUS = 0x800B0004

# The virtual desktop process that Wine starts for the first program showing a window.
WINE_DESKTOP = re.compile(r'"?C:\\windows\\system32\\explorer\.exe"? /desktop.*', re.I)
WINE_DESKTOP_IMAGE = re.compile(r'C:\\windows\\(system32|syswow64)\\explorer\.exe', re.I)

# The slow transfer of the Cancel case: a package padded to 8 MiB, sent 64 KiB at a time
# with this pause after each piece, so the whole transfer needs more than 12 s.
PAD_BYTES = 8 << 20
SLOW_DELAY_MS = 100

T_BOX = 30          # s: a message box must appear within this
T_END = 30          # s: the setup must end within this after the last box
T_RUN_MS = 90000    # the launcher terminates the setup after this
T_SERVER = 180      # s: lifetime of a test server
T_WINEBOOT = 300    # s: creating a prefix on a slow machine

SetupError = RuntimeError  # replaced by the runner's own class in add_cases


def win_path(unix_path):
    """Z: path of a Unix path, computed by hand: winepath would start a wineserver."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def traced_command_lines(trace):
    """{pid: command line} from Wine's +process trace: each thread's "CreateProcessInternalW
    app ... cmdline L"..."" line is followed by its "started process pid XXXX" line."""
    pending, found = {}, {}
    for line in trace.splitlines():
        m = re.match(r'([0-9a-f]+):trace:process:CreateProcessInternalW app .*? cmdline L"(.*)"$', line)
        if m:
            pending[m.group(1)] = re.sub(r'\\(.)', r'\1', m.group(2))
            continue
        m = re.match(r'([0-9a-f]+):trace:process:CreateProcessInternalW started process pid ([0-9a-f]+)',
                     line)
        if m and m.group(1) in pending:
            found[int(m.group(2), 16)] = pending.pop(m.group(1))
    return found


def tables(port, min_engine):
    """The tables of a variant: the built-in Lumora row, addresses on the local server."""
    c = variants.c_string
    return """
namespace {
const LanguageEntry kLanguages[] = {
    {1060, %s, {nullptr, %s, %s, %s}, {nullptr, nullptr, nullptr, nullptr}},
    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},
};
const PackageEntry kPackages[] = {
    {%s, u"INSTALL", u"Quorvex Lumora", nullptr, u"5.1", 0, 5, kLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
}  // namespace
const SetupConfig setupConfig = {%s, u"InstMSIA.exe", u"InstMSIW.exe", %d, kPackages};
""" % (c("Slovenščina"), c(PACKAGE), c("Lumora.x64.msi"), c("Lumora.ARM64.msi"),
       c("https://localhost:%d/prenos/?verzija=5.1&paket=" % port),
       c("https://localhost:%d/MSI/2.0/" % port), min_engine)


def wxs(product_code, component_guid, version, text_file, pad_file=None):
    """The Lumora package of the download tests, with an optional padding file."""
    files = [("ReadMe", "lumora.txt", text_file)] + ([("Pad", "lumora.dat", pad_file)] if pad_file else [])
    return variants.package_wxs("Quorvex Lumora", product_code, "{0E6A3F2C-8D49-4F0B-B1C7-6A2D4C9E5100}",
                                component_guid, version, ("Quorvex", "Lumora"), files,
                                cabinet="lumora.cab")


def file_version(path):
    """(major, minor) of a PE file's fixed version information, read from its bytes."""
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms = struct.unpack_from("<I", data, at + 8)[0]
    return ms >> 16, ms & 0xFFFF


def port_is_free(port):
    """Whether the test server could listen there (it reuses addresses, as done here)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def nothing_listens(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(2)
        return s.connect_ex(("127.0.0.1", port)) != 0


class Box:
    """A message box the case expects: its text (a string, or a pattern that must match
    the whole text), icon, buttons, and the button to press. `while_up` runs while the box
    is up and returns a list of problems."""

    def __init__(self, text, icon, buttons, press, while_up=None):
        self.text, self.icon, self.buttons, self.press = text, icon, buttons, press
        self.while_up = while_up

    def describe(self):
        return self.text.pattern if hasattr(self.text, "pattern") else self.text


class Downloads:
    def __init__(self, suite):
        self.suite = suite
        self.dir = os.path.join(suite.work, "download")
        self.ready = False
        self.failed = None
        self.n = 0

    # --- preparation ----------------------------------------------------------------------

    def prepare(self):
        if self.ready:
            return
        if self.failed:
            raise SetupError("preparation failed earlier: %s" % self.failed)
        try:
            self.prepare_once()
        except Exception as e:  # a failed step of the preparation fails every case
            self.failed = "%s: %s" % (type(e).__name__, e)
            raise SetupError(self.failed)

    def prepare_once(self):
        s = self.suite
        t = time.time()
        os.makedirs(self.dir, exist_ok=True)
        self.port = PREFERRED_PORT if port_is_free(PREFERRED_PORT) else self.free_port()
        self.base_url = "https://localhost:%d" % self.port
        self.package_url = self.base_url + QUERY
        self.redist_url = self.base_url + REDIST_PATH
        self.build_helpers()
        self.make_server_certificate()
        self.make_packages()
        try:
            built = variants.build_variants({"download": tables(self.port, 200),
                                             "download-upgrade": tables(self.port, 9900)})
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            raise SetupError(str(e))
        self.setup = {}
        for name, path in built.items():
            signed = os.path.join(self.dir, "setup-%s.exe" % name)
            s.sign("leaf", path, signed)
            self.setup[name] = signed
        # Copies of the prefix are taken from a prefix at rest.
        self.template = s.prefix
        self.stop_wineserver(self.template)
        self.ready = True
        s.log("download cases ready in %.1f s (port %d)" % (time.time() - t, self.port))

    @staticmethod
    def free_port():
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
            sock.bind(("127.0.0.1", 0))
            return sock.getsockname()[1]

    def build_helpers(self):
        s = self.suite
        gcc = ["i686-w64-mingw32-gcc", "-municode", "-O2", "-s", "-Wall"]
        helpers = (("childwatch", ["-lpsapi"]), ("dlgprobe", ["-luser32"]), ("msistate", ["-lmsi"]))
        for name, libs in helpers:
            s.run(gcc + ["-o", os.path.join(s.bin, name + ".exe"), os.path.join(HERE, name + ".c")]
                  + libs, 120, what="compiling %s.c" % name)
        # The test redistributable, in a valid version and in one of the rejected range.
        self.redist = {}
        for major in (2, 10):
            res = os.path.join(self.dir, "instmsi-%d.res" % major)
            exe = os.path.join(self.dir, "instmsi-%d" % major, REDIST)
            os.makedirs(os.path.dirname(exe), exist_ok=True)
            s.run(["i686-w64-mingw32-windres", "-DFAKE_VERSION_MAJOR=%d" % major,
                   "-DFAKE_VERSION_MINOR=0", os.path.join(HERE, "fake_instmsi.rc"), "-O", "coff",
                   "-o", res], 60, what="windres fake_instmsi.rc")
            s.run(gcc + ["-mwindows", "-o", exe, os.path.join(HERE, "fake_instmsi.c"), res], 120,
                  what="compiling fake_instmsi.c")
            if file_version(exe) != (major, 0):
                raise SetupError("%s carries version %s, not %d.0"
                                 % (exe, file_version(exe), major))
            self.redist[major] = exe
        self.redist_signed = os.path.join(self.dir, "instmsi-2-signed", REDIST)
        os.makedirs(os.path.dirname(self.redist_signed), exist_ok=True)
        s.sign("leaf", self.redist[2], self.redist_signed)
        # The signed redistributable with one byte of its code changed after signing.
        self.redist_tampered = os.path.join(self.dir, "instmsi-2-tampered", REDIST)
        os.makedirs(os.path.dirname(self.redist_tampered), exist_ok=True)
        data = bytearray(open(self.redist_signed, "rb").read())
        data[0x600] ^= 0xFF  # inside .text, covered by the signature's digest
        with open(self.redist_tampered, "wb") as f:
            f.write(bytes(data))

    def make_server_certificate(self):
        """The local HTTPS server's certificate comes from the test PKI (pki.sh)."""
        self.cert = os.path.join(self.suite.pki, "server.pem")
        self.key = os.path.join(self.suite.pki, "server.key")

    def make_packages(self):
        s = self.suite
        src = os.path.join(self.dir, "msi-src")
        os.makedirs(src, exist_ok=True)
        for name, text in (("lumora-51.txt", TEXT_51), ("lumora-510.txt", TEXT_510)):
            with open(os.path.join(src, name), "w") as f:
                f.write(text)
        pad = os.path.join(src, "pad.bin")
        with open(pad, "wb") as f:
            f.write(os.urandom(PAD_BYTES))  # random: the cabinet cannot shrink it
        packages = {
            "51": (PRODUCT, "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}", "5.1", "lumora-51.txt", None),
            "510": (OLD_PRODUCT, "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D700}", "5.1.0",
                    "lumora-510.txt", None),
            "51-padded": (PRODUCT, "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D701}", "5.1",
                          "lumora-51.txt", pad),
        }
        self.msi = {}
        for name, row in packages.items():
            source = os.path.join(src, "lumora-%s.wxs" % name)
            with open(source, "w") as f:
                # wixl takes sources relative to the .wxs file only.
                f.write(wxs(row[0], row[1], row[2], row[3], row[4] and os.path.basename(row[4])))
            out = os.path.join(src, "lumora-%s.msi" % name)
            s.run(["wixl", "-o", out, source], 120, what="wixl lumora-%s" % name)
            self.msi[name] = out
        # Signed by the setup's publisher, by a publisher under an untrusted root (a SHA-1-issued
        # leaf: the only kind whose chain Wine checks), unsigned.
        self.msi["51-signed"] = os.path.join(src, "lumora-51-signed.msi")
        s.sign("leaf", self.msi["51"], self.msi["51-signed"])
        self.msi["51-other"] = os.path.join(src, "lumora-51-other.msi")
        s.sign("leaf2", self.msi["51"], self.msi["51-other"])
        self.msi["51-padded-signed"] = os.path.join(src, "lumora-51-padded-signed.msi")
        s.sign("leaf", self.msi["51-padded"], self.msi["51-padded-signed"])
        # Another publisher whose root the prefix trusts.
        self.msi["51-third"] = os.path.join(src, "lumora-51-third.msi")
        s.sign("leaf3", self.msi["51"], self.msi["51-third"])

    # --- one case's surroundings -----------------------------------------------------------

    def wine_env(self, prefix):
        e = self.suite.env()
        e["WINEPREFIX"] = prefix
        return e

    def stop_wineserver(self, prefix):
        """Ends the wineserver of a prefix this run made, and waits for it (bounded)."""
        env = self.wine_env(prefix)
        for args in (["wineserver", "-w"], ["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                subprocess.run(args, env=env, timeout=30, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if args[1] == "-w":
                    return
            except subprocess.TimeoutExpired:
                continue

    @contextlib.contextmanager
    def own_prefix(self):
        """A copy of the suite's prefix with an empty download cache, for one case."""
        s = self.suite
        self.n += 1
        path = os.path.join(self.dir, "prefix-%02d" % self.n)
        shutil.rmtree(path, ignore_errors=True)
        s.run(["cp", "-a", self.template, path], 120, what="copying the prefix")
        for cache in glob.glob(os.path.join(path, "drive_c", "users", "*", "AppData", "Local",
                                            "Microsoft", "Windows", "INetCache")):
            shutil.rmtree(cache, ignore_errors=True)
        saved = s.prefix
        s.prefix = path
        self.prefix = path
        try:
            yield path
        finally:
            s.prefix = saved
            try:
                subprocess.run(["wineserver", "-k"], env=self.wine_env(path), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=self.wine_env(path), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
            shutil.rmtree(path, ignore_errors=True)

    @contextlib.contextmanager
    def server(self, files, status=None, delay_ms=0, faults=()):
        """tests/wine/https_server.py on the variants' port serving `files` ({name: source});
        yields a function returning the request lines it has logged so far."""
        s = self.suite
        stem = s.new_tmp("server")
        root = stem + ".files"
        shutil.rmtree(root, ignore_errors=True)  # a kept work directory used again
        os.makedirs(root)
        for name, src in files.items():
            shutil.copyfile(src, os.path.join(root, name))
        log, port_file = stem + ".log", stem + ".port"
        for stale in (log, port_file):
            if os.path.exists(stale):
                os.remove(stale)
        args = [sys.executable, SERVER, "--dir", root, "--cert", self.cert, "--key", self.key,
                "--port", str(self.port), "--port-file", port_file, "--log", log,
                "--lifetime", str(T_SERVER)]
        for name, code in (status or {}).items():
            args += ["--status", "%s=%d" % (name, code)]
        if delay_ms:
            args += ["--delay-ms", str(delay_ms)]
        args += list(faults)
        proc = s.start(args)
        try:
            deadline = time.time() + 15
            while not os.path.exists(port_file) and proc.poll() is None and time.time() < deadline:
                time.sleep(0.05)
            if not os.path.exists(port_file):
                rc, out, err = s.finish(proc, 5)
                raise SetupError("the HTTPS server did not start on port %d: %s"
                                 % (self.port, err.decode(errors="replace")[-400:]))

            def requests():
                if not os.path.exists(log):
                    return []
                with open(log, encoding="utf-8") as f:
                    return f.read().splitlines()
            yield requests
        finally:
            if proc.poll() is None:
                proc.terminate()
            s.finish(proc, 10)

    def setup_dir(self, variant, files=None, texts=None):
        """A folder with the signed variant as setup.exe and, beside it, copies of `files`
        ({name: source}) and small text files `texts` ({name: content})."""
        d = os.path.join(self.dir, "case-%02d" % self.n)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        exe = os.path.join(d, "setup.exe")
        shutil.copyfile(self.setup[variant], exe)
        for name, src in (files or {}).items():
            shutil.copyfile(src, os.path.join(d, name))
        for name, text in (texts or {}).items():
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        return exe

    # --- running the setup ------------------------------------------------------------------

    def launch(self, exe, watch_children):
        """Starts setup.exe under runexit (full exit status) or childwatch (that and the
        processes it starts)."""
        s = self.suite
        if not watch_children:
            proc, stopfile, _ = s.start_setup(exe, "", "en", timeout_ms=T_RUN_MS)
            return {"proc": proc, "stop": stopfile, "kind": "runexit"}
        stem = s.new_tmp("watch")
        cmdfile, stopfile = stem + ".cmd", stem + ".stop"
        with open(cmdfile, "w", encoding="utf-8") as f:
            f.write('"%s"' % win_path(exe))
        # Wine's process trace names every command line as the process is created: it stands
        # in when a child ends before childwatch could read the command line from it.
        env = s.env("en")
        env["WINEDEBUG"] = "-all,+process"
        proc = s.start(["wine", win_path(os.path.join(s.bin, "childwatch.exe")), "--stop",
                        win_path(stopfile), win_path(cmdfile), str(T_RUN_MS)], env)
        return {"proc": proc, "stop": stopfile, "kind": "childwatch"}

    def end(self, run, stop_now=False):
        s = self.suite
        if run["kind"] == "runexit":
            return s.end_setup(run["proc"], run["stop"], stop_now)
        if stop_now:
            open(run["stop"], "w").close()
        rc, out, err = s.finish(run["proc"], T_RUN_MS / 1000 + 30)
        if rc is None:
            raise SetupError("childwatch did not end")
        res = {"processes": []}
        traced = traced_command_lines(err.decode("utf-8", errors="replace"))
        for line in out.decode("utf-8", errors="replace").splitlines():
            if line.startswith("child "):
                m = re.match(r'child pid=(\d+) exit=(\S+) image=(?:"(.*?)"|\?) '
                             r'cmdline=(?:"(.*)"|\?)$', line)
                if not m:
                    raise SetupError("childwatch said %r" % line)
                if (m.group(4) and WINE_DESKTOP.fullmatch(m.group(4))) or (
                        not m.group(4) and WINE_DESKTOP_IMAGE.fullmatch(m.group(3) or "")):
                    continue  # Wine's own, started for the first window of a fresh prefix
                code = int(m.group(2), 16) if m.group(2).startswith("0x") else m.group(2)
                cmdline = m.group(4) or traced.get(int(m.group(1))) or m.group(3)
                if cmdline and WINE_DESKTOP.fullmatch(cmdline):
                    continue
                res["processes"].append({"exit": code, "cmdline": cmdline})
            elif line.startswith("exit="):
                for part in line.split():
                    k, v = part.split("=", 1)
                    res[k] = v
        if "exit" not in res:
            raise SetupError("childwatch said %r %r" % (out[-300:], err[-300:]))
        res["code"] = int(res["exit"], 16)
        return res

    def probe(self, *args):
        p = self.suite.wine([win_path(os.path.join(self.suite.bin, "dlgprobe.exe"))] + list(args),
                            timeout=60, check=False)
        return p.returncode, p.stdout.decode("utf-8", errors="replace")

    def wait_box_or_end(self, run, limit):
        """'box' once a message box is up, 'ended' once the setup has ended, else 'timeout'."""
        deadline = time.time() + limit
        while time.time() < deadline:
            if run["proc"].poll() is not None:
                return "ended"
            rc, _ = self.probe("box", TITLE_HEX, "400")
            if rc == 0:
                return "box"
        return "timeout"

    def drive(self, run, boxes, problems):
        """Answers the expected boxes in order, then waits for the end; returns the end's
        report. A box that does not come, or one that was not expected, is a problem; the
        setup is then stopped."""
        s = self.suite
        for box in boxes:
            state = self.wait_box_or_end(run, T_BOX)
            if state != "box":
                problems.append("expected a box %s, but the setup %s" % (
                    json.dumps(box.describe()), "ended" if state == "ended"
                    else "showed none within %d s" % T_BOX))
                return self.end(run, stop_now=state != "ended")
            # robot takes the first dialog with the caption, which is the box now that one
            # is up; it presses at once unless something must be looked at meanwhile.
            args = ["inspect", TITLE_HEX, "10000"]
            if not box.while_up:
                args += ["--press", str(box.press)]
            rc, data, raw = s.robot(args, "en", 60)
            if not data or not data.get("found") or data.get("text") is None:
                problems.append("could not read the box: %s" % raw[-300:])
                return self.end(run, stop_now=True)
            got = data["text"]
            if hasattr(box.text, "fullmatch"):
                ok = box.text.fullmatch(got) is not None
            else:
                ok = got == box.text
            if not ok:
                problems.append("box text %s, expected %s" % (json.dumps(got),
                                                              json.dumps(box.describe())))
            box.got = got
            if data["icon"] != box.icon:
                problems.append("box %s: icon %s, expected %s" % (json.dumps(got), data["icon"],
                                                                  box.icon))
            ids = sorted(b["id"] for b in data["buttons"])
            if ids != box.buttons:
                problems.append("box %s: buttons %s, expected %s" % (json.dumps(got), ids,
                                                                     box.buttons))
            prc = rc
            if box.while_up:
                problems.extend(box.while_up())
                prc, _, _ = s.robot(["press", TITLE_HEX, str(box.press), "10000"], "en", 60)
            if prc != 0:
                problems.append("pressing %d on the box failed (robot status %d)"
                                % (box.press, prc))
                return self.end(run, stop_now=True)
        state = self.wait_box_or_end(run, T_END)
        if state == "box":
            rc, data, raw = s.robot(["inspect", TITLE_HEX, "5000"], "en", 60)
            problems.append("an unexpected box came: %s" % json.dumps(
                data.get("text") if data else raw[-300:]))
            return self.end(run, stop_now=True)
        if state == "timeout":
            problems.append("the setup did not end within %d s" % T_END)
            return self.end(run, stop_now=True)
        return self.end(run)

    def run_case(self, exe, boxes, want_exit, watch_children=False):
        """Runs setup.exe through its boxes; returns (problems, end report)."""
        problems = []
        run = self.launch(exe, watch_children)
        try:
            res = self.drive(run, boxes, problems)
        except BaseException:
            if run["proc"].poll() is None:
                open(run["stop"], "w").close()
                self.suite.finish(run["proc"], 30)
            raise
        if res["ended"] != "self":
            problems.append("the setup was stopped (%s)" % res["ended"])
        elif res["code"] != want_exit:
            problems.append("exit status 0x%08X (%d), expected %d" % (res["code"], res["code"],
                                                                       want_exit))
        return problems, res

    # --- what the case looks at afterwards ---------------------------------------------------

    def product_state(self):
        """{product code: (state, install source)} from the engine of the case's prefix."""
        p = self.suite.wine([win_path(os.path.join(self.suite.bin, "msistate.exe")),
                             PRODUCT, OLD_PRODUCT], timeout=60)
        states = {}
        for line in p.stdout.decode("utf-8", errors="replace").splitlines():
            code, state, source = line.split(" ", 2)
            states[code] = (int(state), source)
        return states

    def installed_text(self):
        path = os.path.join(self.prefix, INSTALLED_FILE)
        return open(path).read() if os.path.exists(path) else None

    def unix_path(self, path):
        """The host path of a C: or Z: path of the case's prefix."""
        if path[:3].upper() == "C:\\":
            return os.path.join(self.prefix, "drive_c", *path[3:].split("\\"))
        if path[:3].upper() == "Z:\\":
            return "/" + "/".join(path[3:].split("\\"))
        raise ValueError("not a C: or Z: path: %s" % path)

    def redist_calls(self):
        path = os.path.join(self.prefix, "drive_c", "fake-instmsi", "calls.log")
        return open(path, encoding="utf-8").read().splitlines() if os.path.exists(path) else []

    def expect_installed(self, problems, source_dir=None, from_cache=False):
        """The product 5.1 is installed (engine state 5 and its file), from where expected;
        the local copy of version 5.1.0 is not."""
        states = self.product_state()
        state, source = states[PRODUCT]
        if state != 5:
            problems.append("product state %d, expected 5 (installed)" % state)
        elif from_cache and not CACHE_PATH.fullmatch(source):
            problems.append("installed from %s, not from the download cache" % source)
        elif source_dir and source.rstrip("\\").lower() != win_path(source_dir).lower():
            problems.append("installed from %s, expected %s" % (source, win_path(source_dir)))
        if states[OLD_PRODUCT][0] != -1:
            problems.append("the local copy of version 5.1.0 got state %d" % states[OLD_PRODUCT][0])
        text = self.installed_text()
        if text != TEXT_51:
            problems.append("installed file holds %r, expected %r" % (text, TEXT_51))

    def expect_not_installed(self, problems):
        states = self.product_state()
        for code, (state, _) in states.items():
            if state != -1:
                problems.append("product %s has state %d, expected -1 (unknown)" % (code, state))
        if self.installed_text() is not None:
            problems.append("the product's file was installed")

    def expect_requests(self, problems, requests, want):
        got = requests()
        if got != want:
            problems.append("server saw %s, expected %s" % (got, want))

    def expect_cached(self, problems, box, served):
        """The not-trusted box names the downloaded file: it exists with the served bytes."""
        m = NOT_TRUSTED.fullmatch(getattr(box, "got", "") or "")
        if not m:
            return
        path = self.unix_path(m.group(1))
        if not os.path.isfile(path):
            problems.append("the box names %s, which does not exist" % m.group(1))
        elif open(path, "rb").read() != served:
            problems.append("the file the box names does not hold what the server sent")

    # --- cases: packages ---------------------------------------------------------------------

    def download_installs(self):
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-signed"]}) as requests:
            exe = self.setup_dir("download")
            problems, _ = self.run_case(exe, [], 0)
            self.expect_requests(problems, requests, [QUERY])
            self.expect_installed(problems, from_cache=True)
        return problems

    def local_510_replaced(self):
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-signed"]}) as requests:
            exe = self.setup_dir("download", {PACKAGE: self.msi["510"]})
            problems, _ = self.run_case(exe, [], 0)
            self.expect_requests(problems, requests, [QUERY])
            self.expect_installed(problems, from_cache=True)
        return problems

    def local_51_used(self):
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-signed"]}) as requests:
            # Unsigned: a copy beside the setup is not verified.
            exe = self.setup_dir("download", {PACKAGE: self.msi["51"]})
            problems, _ = self.run_case(exe, [], 0)
            self.expect_requests(problems, requests, [])
            self.expect_installed(problems, source_dir=os.path.dirname(exe))
        return problems

    def not_trusted(self, msi_key, status=None):
        self.prepare()
        served = open(self.msi[msi_key], "rb").read() if msi_key else None
        files = {PACKAGE: self.msi[msi_key]} if msi_key else {}
        with self.own_prefix(), self.server(files, status=status) as requests:
            exe = self.setup_dir("download")
            box = Box(NOT_TRUSTED, "error", [IDOK], IDOK)
            problems, _ = self.run_case(exe, [box], 4)
            self.expect_requests(problems, requests, [QUERY])
            self.expect_not_installed(problems)
            if served is None:
                code = list(status.values())[0]
                served = ("<html><body>%d</body></html>" % code).encode()
            self.expect_cached(problems, box, served)
        return problems

    def other_publisher(self):
        # Signed by a publisher other than the setup's: the last verification shows the
        # platform's full trust user interface (Wine shows none and trusts the trusted root).
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-third"]}) as requests:
            exe = self.setup_dir("download")
            problems, _ = self.run_case(exe, [], 0)
            self.expect_requests(problems, requests, [QUERY])
            self.expect_installed(problems, from_cache=True)
        return problems

    def broken_transfer(self, fault):
        # The server sends half the body and then closes the connection (--cut) or shuts its
        # sending side (--truncate), with the full length announced. Wine's urlmon reports
        # such a transfer as a success and keeps the partial file, so the trust check is
        # what rejects it here (Windows reports the download as failed: exit 2). Either
        # way the half file must never reach the engine.
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-padded-signed"]},
                                            faults=[fault, PACKAGE]) as requests:
            exe = self.setup_dir("download")
            box = Box(NOT_TRUSTED, "error", [IDOK], IDOK)
            problems, _ = self.run_case(exe, [box], 4)
            self.expect_requests(problems, requests, [QUERY])
            self.expect_not_installed(problems)
            served = open(self.msi["51-padded-signed"], "rb").read()
            self.expect_cached(problems, box, served[:len(served) // 2])
        return problems

    def held_engine(self):
        """A forwarding engine (engine_shim.c) registered in the current prefix copy, whose
        first MsiOpenDatabaseW waits for a "release" file: the setup is then held between
        the first cancel check and the download. Returns the shim's directory."""
        s = self.suite
        shim = os.path.join(self.dir, "shim")
        if not os.path.exists(os.path.join(shim, "msi.dll")):
            os.makedirs(shim, exist_ok=True)
            res = os.path.join(self.dir, "engine_shim.res.o")
            s.run(["i686-w64-mingw32-windres", "-O", "coff", "-o", res,
                   os.path.join(HERE, "engine_shim.rc")], 120, what="windres engine_shim.rc")
            s.run(["i686-w64-mingw32-gcc", "-shared", "-O2", "-s", "-Wall", "-o",
                   os.path.join(shim, "msi.dll"), os.path.join(HERE, "engine_shim.c"),
                   os.path.join(HERE, "engine_shim.def"), res, "-luser32"], 120,
                  what="compiling engine_shim.c")
        for name in ("shim.log", "held", "release"):
            if os.path.exists(os.path.join(shim, name)):
                os.remove(os.path.join(shim, name))
        with open(os.path.join(shim, "shim.cfg"), "w") as f:
            f.write("hold_open_ms=%d\n" % (T_BOX * 1000))
        s.wine(["reg", "add", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
                "/v", "InstallerLocation", "/t", "REG_SZ", "/d", win_path(shim), "/f"])
        # Otherwise Wine loads its builtin engine under the shim's name.
        s.wine(["reg", "add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "msi", "/d",
                "native,builtin", "/f"])
        return shim

    def cancel_before_transfer(self):
        # Cancel pressed while the copy beside the setup (version 5.1.0) is being read: the
        # check before the transfer finds it, and nothing is requested.
        self.prepare()
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-signed"]}) as requests:
            shim = self.held_engine()
            exe = self.setup_dir("download", {PACKAGE: self.msi["510"]})
            problems = []
            run = self.launch(exe, False)
            try:
                deadline = time.time() + T_BOX
                while (not os.path.exists(os.path.join(shim, "held")) and time.time() < deadline
                       and run["proc"].poll() is None):
                    time.sleep(0.02)
                if not os.path.exists(os.path.join(shim, "held")):
                    problems.append("the setup never opened the package beside it")
                else:
                    rc, _, _ = self.suite.robot(["press", TITLE_HEX, str(IDCANCEL), "10000"], "en", 60)
                    if rc != 0:
                        problems.append("pressing Cancel failed (robot status %d)" % rc)
            finally:
                open(os.path.join(shim, "release"), "w").close()
            res = self.drive(run, [Box(CANCELLED, "warning", [IDOK], IDOK)], problems)
            if res["code"] != 1602:
                problems.append("exit status %d, expected 1602" % res["code"])
            self.expect_requests(problems, requests, [])
            self.expect_not_installed(problems)
        return problems

    def server_down(self):
        self.prepare()
        if not nothing_listens(self.port):
            return ["something else listens on port %d" % self.port]
        with self.own_prefix():
            exe = self.setup_dir("download")
            box = Box(PACKAGE_NOT_FOUND % self.package_url, "error", [IDOK], IDOK)
            problems, _ = self.run_case(exe, [box], 2)
            self.expect_not_installed(problems)
        return problems

    def cancel_during_transfer(self):
        self.prepare()
        s = self.suite
        size = os.path.getsize(self.msi["51-padded-signed"])
        pieces = (size + 65535) // 65536
        min_transfer_ms = (pieces - 1) * SLOW_DELAY_MS
        with self.own_prefix(), self.server({PACKAGE: self.msi["51-padded-signed"]},
                                            delay_ms=SLOW_DELAY_MS) as requests:
            exe = self.setup_dir("download")
            problems = []
            run = self.launch(exe, False)
            try:
                # The transfer runs once the server has the request and the bar has moved.
                bar = None
                deadline = time.time() + 30
                while time.time() < deadline and run["proc"].poll() is None:
                    if requests():
                        _, out = self.probe("progress", TITLE_HEX)
                        bar = json.loads(out) if out.strip() else None
                        if bar and bar.get("found") and bar["pos"] > 0:
                            break
                    time.sleep(0.1)
                if not bar or not bar.get("found") or bar["pos"] <= 0:
                    problems.append("no transfer in progress to cancel (server saw %s, window %s)"
                                    % (requests(), bar))
                    self.end(run, stop_now=True)
                    return problems
                if bar["title"] != PROGRESS_TITLE:
                    problems.append("progress title %r, expected %r"
                                    % (bar["title"], PROGRESS_TITLE))
                if bar["status"] != PROGRESS_STATUS:
                    problems.append("progress status %r, expected %r"
                                    % (bar["status"], PROGRESS_STATUS))
                if bar["low"] != 0 or bar["high"] != size or not 0 < bar["pos"] < size:
                    problems.append("progress bar range %d-%d at %d, expected 0-%d part way"
                                    % (bar["low"], bar["high"], bar["pos"], size))
                s.screenshot("download-progress.png")
                prc, _, _ = s.robot(["press", TITLE_HEX, str(IDCANCEL), "10000"], "en", 60)
                if prc != 0:
                    problems.append("pressing Cancel failed (robot status %d)" % prc)
                res = self.drive(run, [Box(CANCELLED, "warning", [IDOK], IDOK)], problems)
            except BaseException:
                if run["proc"].poll() is None:
                    open(run["stop"], "w").close()
                    s.finish(run["proc"], 30)
                raise
            if res["ended"] != "self":
                problems.append("the setup was stopped (%s)" % res["ended"])
            elif res["code"] != 1602:
                problems.append("exit status 0x%08X, expected 1602" % res["code"])
            elif int(res["ms"]) >= min_transfer_ms:
                problems.append("the setup ran %s ms, as long as the whole transfer takes (%d ms): "
                                "Cancel did not stop it" % (res["ms"], min_transfer_ms))
            self.expect_requests(problems, requests, [QUERY])
            self.expect_not_installed(problems)
        return problems

    # --- cases: engine upgrade ---------------------------------------------------------------

    def expect_children(self, problems, res, want):
        """want: [(command-line pattern, exit status)], in start order."""
        got = [(c["cmdline"], c["exit"]) for c in res.get("processes", [])]
        ok = len(got) == len(want) and all(
            cmd is not None and re.fullmatch(pat, cmd) and code == exit_code
            for (cmd, code), (pat, exit_code) in zip(got, want))
        if not ok:
            problems.append("started processes %s, expected %s" % (
                [(c, "0x%08X" % e if isinstance(e, int) else e) for c, e in got],
                [(p, "0x%08X" % e) for p, e in want]))
        return got

    def upgrade_local(self, redist_major=2, redist_exit=None, answer=IDYES):
        """InstMSIW.exe and the package beside the setup."""
        self.prepare()
        with self.own_prefix():
            files = {REDIST: self.redist[redist_major], PACKAGE: self.msi["51"]}
            texts = {"instmsi-exit.txt": "%d\n" % redist_exit} if redist_exit is not None else {}
            exe = self.setup_dir("download-upgrade", files, texts)
            redist = win_path(os.path.join(os.path.dirname(exe), REDIST))
            boxes = [Box(UPGRADE_PROMPT, "question", [IDYES, IDNO], answer)]
            if answer == IDNO:
                want_exit, runs = 1602, []
                boxes.append(Box(CANCELLED, "warning", [IDOK], IDOK))
            elif redist_major == 10:
                want_exit, runs = 87, []
                boxes.append(Box(INVALID_INSTMSI % redist, "error", [IDOK], IDOK))
            else:
                want_exit, runs = 0, [(re.escape(REDIST_CMDLINE % redist), redist_exit or 0)]
                if redist_exit == 3010:
                    boxes.append(Box(RESTART_PROMPT, "question", [IDYES, IDNO], IDNO,
                                     while_up=self.restart_box_comes_last))
            problems, res = self.run_case(exe, boxes, want_exit, watch_children=True)
            self.expect_children(problems, res, runs)
            calls = self.redist_calls()
            if calls != [REDIST_CMDLINE % redist] * len(runs):
                problems.append("the redistributable was run with %s" % calls)
            if want_exit == 0:
                self.expect_installed(problems, source_dir=os.path.dirname(exe))
            else:
                self.expect_not_installed(problems)
        return problems

    def restart_box_comes_last(self):
        """While the restart question is up: the package is installed, the window gone."""
        problems = []
        if self.product_state()[PRODUCT][0] != 5:
            problems.append("the restart question came before the package was installed")
        _, out = self.probe("progress", TITLE_HEX)
        if json.loads(out).get("found"):
            problems.append("the progress window still exists under the restart question")
        return problems

    def upgrade_download(self, signed=True, tampered=False):
        self.prepare()
        source = self.redist_signed if signed else self.redist[2]
        if tampered:
            source, signed = self.redist_tampered, False
        files = {REDIST: source, PACKAGE: self.msi["51-signed"]}
        with self.own_prefix(), self.server(files) as requests:
            exe = self.setup_dir("download-upgrade")
            boxes = [Box(UPGRADE_PROMPT, "question", [IDYES, IDNO], IDYES)]
            if not signed:
                boxes.append(Box(NOT_TRUSTED, "error", [IDOK], IDOK))
            problems, res = self.run_case(exe, boxes, 0 if signed else 4, watch_children=True)
            cache = r"(C:\\users\\[^\\]+\\AppData\\Local\\Microsoft\\Windows\\INetCache\\[^\"]+)"
            verify = (re.escape('"%s" /v "' % win_path(exe)) + cache + '"',
                      0 if signed else NOT_TRUSTED_STATUS)
            want = [verify]
            if signed:
                want.append(('"' + cache + re.escape('" /c:"msiinst /delayreboot"'), 0))
            got = self.expect_children(problems, res, want)
            # The file verified is the downloaded one, and it is the one that was run.
            m = re.fullmatch(verify[0], got[0][0] or "") if got else None
            if m:
                cached = self.unix_path(m.group(1))
                sent = open(source, "rb").read()
                if not os.path.isfile(cached) or open(cached, "rb").read() != sent:
                    problems.append("the verified file %s is not the downloaded redistributable"
                                    % m.group(1))
                calls = self.redist_calls()
                want_calls = [REDIST_CMDLINE % m.group(1)] if signed else []
                if calls != want_calls:
                    problems.append("the redistributable was run with %s, expected %s"
                                    % (calls, want_calls))
                named = "Installation failed. '%s' is not trusted." % m.group(1)
                if not signed and getattr(boxes[1], "got", None) != named:
                    problems.append("the box does not name the verified file %s" % m.group(1))
            if signed:
                self.expect_requests(problems, requests, [REDIST_PATH, QUERY])
                self.expect_installed(problems, from_cache=True)
            else:
                self.expect_requests(problems, requests, [REDIST_PATH])
                self.expect_not_installed(problems)
        return problems

    def upgrade_download_fails(self):
        self.prepare()
        if not nothing_listens(self.port):
            return ["something else listens on port %d" % self.port]
        with self.own_prefix():
            exe = self.setup_dir("download-upgrade")
            boxes = [Box(UPGRADE_PROMPT, "question", [IDYES, IDNO], IDYES),
                     Box(INSTMSI_NOT_FOUND % self.redist_url, "error", [IDOK], IDOK)]
            problems, res = self.run_case(exe, boxes, 2, watch_children=True)
            self.expect_children(problems, res, [])
            self.expect_not_installed(problems)
        return problems

    @contextlib.contextmanager
    def win64_prefix(self):
        """A fresh win64 prefix (x64 native processor) for one case; the runner's
        environment points at it meanwhile."""
        s = self.suite
        self.n += 1
        path = os.path.join(self.dir, "prefix-win64")
        shutil.rmtree(path, ignore_errors=True)
        runner_env = s.env

        def env64(lang="en"):
            e = runner_env(lang)
            e["WINEPREFIX"] = path
            e["WINEARCH"] = "win64"
            return e
        s.env = env64
        self.prefix = path
        try:
            s.run(["wineboot", "-i"], T_WINEBOOT, env=env64(), what="wineboot -i (win64)")
            s.run(["wineserver", "-w"], T_WINEBOOT, env=env64(), what="wineserver -w (win64)")
            yield path
        finally:
            for args in (["wineserver", "-k"], ["wineserver", "-w"]):
                try:
                    subprocess.run(args, env=env64(), timeout=30, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                except subprocess.TimeoutExpired:
                    pass
            del s.env  # the runner's own method again
            shutil.rmtree(path, ignore_errors=True)

    def upgrade_x64(self):
        """On an x64 system no redistributable fits: 1633, no message, nothing fetched."""
        self.prepare()
        files = {REDIST: self.redist_signed, PACKAGE: self.msi["51-signed"]}
        with self.win64_prefix(), self.server(files) as requests:
            exe = self.setup_dir("download-upgrade")
            boxes = [Box(UPGRADE_PROMPT, "question", [IDYES, IDNO], IDYES)]
            problems, res = self.run_case(exe, boxes, 1633, watch_children=True)
            self.expect_children(problems, res, [])
            self.expect_requests(problems, requests, [])
            if self.redist_calls():
                problems.append("the redistributable was run: %s" % self.redist_calls())
        return problems


def add_cases(suite):
    global SetupError
    SetupError = getattr(sys.modules.get(type(suite).__module__), "SetupError", RuntimeError)
    g = Downloads(suite)
    dl, up = "download: ", "download, engine upgrade: "
    cases = [
        (dl + "no local copy: downloaded, verified and installed from the cache",
         g.download_installs),
        (dl + "a local copy of version 5.1.0 is not used: the download is installed",
         g.local_510_replaced),
        (dl + "a local copy of version 5.1 is installed unverified, nothing downloaded",
         g.local_51_used),
        (dl + "unsigned package: not trusted, exit 4", lambda: g.not_trusted("51")),
        (dl + "package signed by a SHA-1-issued leaf under an untrusted root: not trusted, exit 4",
         lambda: g.not_trusted("51-other")),
        (dl + "HTTP 404: the error page is saved and not trusted, exit 4",
         lambda: g.not_trusted(None, {PACKAGE: 404})),
        (dl + "HTTP 500: the error page is saved and not trusted, exit 4",
         lambda: g.not_trusted(None, {PACKAGE: 500})),
        (dl + "server down: package not found, exit 2", g.server_down),
        (dl + "another publisher under a trusted root: accepted through the full trust UI",
         g.other_publisher),
        (dl + "connection cut mid-transfer: the half file is rejected, exit 4",
         lambda: g.broken_transfer("--cut")),
        (dl + "truncated body: the half file is rejected, exit 4",
         lambda: g.broken_transfer("--truncate")),
        (dl + "Cancel before the transfer: only 'Setup was cancelled.', nothing requested",
         g.cancel_before_transfer),
        (dl + "Cancel during a slow transfer: only 'Setup was cancelled.', exit 1602",
         g.cancel_during_transfer),
        (up + "InstMSIW.exe beside the setup runs unverified with its command line",
         g.upgrade_local),
        (up + "downloaded InstMSIW.exe verified by a child setup.exe /v, then run",
         g.upgrade_download),
        (up + "unsigned downloaded InstMSIW.exe: not trusted, never run, exit 4",
         lambda: g.upgrade_download(signed=False)),
        (up + "tampered signed InstMSIW.exe: not trusted, never run, exit 4",
         lambda: g.upgrade_download(tampered=True)),
        (up + "InstMSIW.exe cannot be downloaded: exit 2", g.upgrade_download_fails),
        (up + "exit 3010: package installed, then the restart question",
         lambda: g.upgrade_local(redist_exit=3010)),
        (up + "InstMSIW.exe of version 10.0 is invalid: exit 87",
         lambda: g.upgrade_local(redist_major=10)),
        (up + "No to the upgrade question: cancelled, exit 1602",
         lambda: g.upgrade_local(answer=IDNO)),
        (up + "x64 system (win64 prefix): exit 1633, no message, nothing fetched",
         g.upgrade_x64),
    ]
    if not any(suite.wanted(name) for name, _ in cases):
        return
    for name, body in cases:
        suite.case(name, body)
    # A non-administrator would get the "Admin priviledges are required" box; Wine's user
    # is always an administrator, so that path cannot be shown here.
    if suite.wanted(up + "admin"):
        print("SKIP %sadmin-required box: Wine's user is always an administrator" % up,
              flush=True)
