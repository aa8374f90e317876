"""Downloads over HTTPS and the Windows Installer engine upgrade, with the real setup.exe.

Setup variants, signed by the test publisher, fetch the package of the run's architecture
(Lumora.Win32.msi or Lumora.x64.msi) from "https://localhost:PORT/prenos/?verzija=5.1&paket="
and the redistributable from "https://localhost:PORT/MSI/2.0/"; one asks for an engine newer
than any there is, so that the upgrade question always comes, one asks before the package.
Every case has its own copy of the suite's prefix and its own server (tests/wine/https_server.py,
by pid, bounded lifetime), and checks each message box's exact text, icon and buttons, the
full exit status, whether and from where the product got installed, the requests the server
saw, and for the upgrade which processes the setup started with which command lines
(launch.exe children) and what the test redistributable (fake_instmsi.c) was run with.

The upgrade through the redistributable exists only for x86 and systems that are not NT: the
cases that run it, verify it in a child setup or answer the restart question after it are the
x86 build's only. The x64 build asks and then ends with 1633 (the x86 build sees the same in a
win64 prefix).
"""
import contextlib
import glob
import json
import os
import re
import shutil
import socket
import time
import zlib

import harness
from harness import texts, win_path

# Compiled into the variants, so that a checkout keeps its variants from run to run; two
# checkouts on one machine get two ports. Another free port when it is taken.
PREFERRED_PORT = 47000 + zlib.crc32(harness.REPO.encode()) % 1000

TITLE = texts.title("en")
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7

PRODUCT_NAME = "Quorvex Lumora"
PRODUCT = harness.LUMORA_PRODUCT_CODE                    # Lumora 5.1
OLD_PRODUCT = "{5B0C1B44-2F1E-4C8A-9E51-1D4A0B7C5100}"  # the local copy of version 5.1.0
# An x86 package in a win32 prefix and an x64 package in a win64 prefix both land here.
INSTALLED_FILE = os.path.join("drive_c", "Program Files", "Quorvex", "Lumora", "lumora.txt")
TEXT_51 = "Quorvex Lumora 5.1\n"  # what harness.lumora_package installs
TEXT_510 = "Quorvex Lumora 5.1.0, left beside the setup\n"

QUERY = "/prenos/?verzija=5.1&paket="   # the package's file name follows
REDIST = "InstMSIW.exe"
REDIST_PATH = "/MSI/2.0/" + REDIST

# What the user must see.
NOT_TRUSTED = re.compile(r"Installation failed\. '(C:\\users\\[^\\']+\\AppData\\Local\\Microsoft"
                         r"\\Windows\\INetCache\\[^']+)' is not trusted\.")
PACKAGE_NOT_FOUND = texts.as_format("en", 13)
# FormatMessageW writes the line break of a formatted text as CR LF.
ASK_FIRST = (texts.as_format("en", 20) % (PRODUCT_NAME, PRODUCT_NAME)).replace("\n", "\r\n")
CANCELLED = texts.text("en", 24)
UPGRADE_PROMPT = texts.text("en", 33)
RESTART_PROMPT = texts.text("en", 30)
INVALID_INSTMSI = texts.as_format("en", 31)
INSTMSI_NOT_FOUND = texts.as_format("en", 28)
PROGRESS_TITLE = texts.as_format("en", 16) % PRODUCT_NAME
PROGRESS_STATUS = texts.as_format("en", 18)
REDIST_CMDLINE = '"%s" /c:"msiinst /delayreboot"'
CACHE_PATH = re.compile(r"C:\\users\\[^\\]+\\AppData\\Local\\Microsoft\\Windows\\INetCache\\.+")

NOT_TRUSTED_STATUS = 0x800B0004

# The slow transfer of the Cancel case: a package padded to 8 MiB, sent 64 KiB at a time
# with this pause after each piece, so the whole transfer needs more than 12 s.
PAD_MIB = 8
SLOW_DELAY_MS = 100

T_BOX = 30          # s: a message box must appear within this
T_END = 30          # s: the setup must end within this after the last box
T_RUN_MS = 90000    # the launcher terminates the setup after this
T_SERVER = 180      # s: lifetime of a test server


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
    """A message box the case expects: its text (a string, or a pattern the whole text must
    match), icon, buttons, and the button to press; while_up() runs while it is up and
    returns problems."""

    def __init__(self, text, icon, buttons, press, while_up=None):
        self.text, self.icon, self.buttons, self.press = text, icon, buttons, press
        self.while_up, self.got = while_up, None


class Downloads:
    def __init__(self, suite):
        self.suite = suite
        self.dir = os.path.join(suite.work, "download")
        self.prepare = harness.Once(self.prepare_once)  # by every case, first of all
        self.n = 0
        # The package of the run's architecture: what the server sends and what lies beside.
        self.pkg = suite.package_file
        self.query = QUERY + self.pkg

    # --- preparation ----------------------------------------------------------------------

    def prepare_once(self):
        s = self.suite
        t = time.time()
        os.makedirs(self.dir, exist_ok=True)
        self.port = PREFERRED_PORT if port_is_free(PREFERRED_PORT) else harness.free_port()
        self.base_url = "https://localhost:%d" % self.port
        self.package_url = self.base_url + self.query
        self.redist_url = self.base_url + REDIST_PATH
        self.place_redistributables()
        self.make_packages()
        tables = harness.lumora_download_tables
        built = harness.build_variants({"download": tables(self.port),
                                        "download-upgrade": tables(self.port, 9900),
                                        "download-ask": tables(self.port, ask_first=True)}, s.arch)
        self.setup = {}
        for name, path in built.items():
            signed = os.path.join(self.dir, "setup-%s.exe" % name)
            s.sign("leaf", path, signed)
            self.setup[name] = signed
        self.template = s.prefix
        s.log("download cases ready in %.1f s (port %d)" % (time.time() - t, self.port))

    def place_redistributables(self):
        """The test redistributable (fake_instmsi.c, built with the helpers) as InstMSIW.exe,
        each in a folder of its own: version 2.0, version 10.0 (of the rejected range), 2.0
        signed by the setup's publisher, and that signed file with one byte of its code
        changed after signing."""
        def place(kind, data):
            exe = os.path.join(self.dir, "instmsi-" + kind, REDIST)
            os.makedirs(os.path.dirname(exe), exist_ok=True)
            with open(exe, "wb") as f:
                f.write(data)
            return exe
        read = lambda path: open(path, "rb").read()  # noqa: E731
        self.redist = {m: place(str(m), read(os.path.join(self.suite.bin, "fake_instmsi_%d.exe" % m)))
                       for m in (2, 10)}
        self.redist_signed = place("2-signed", b"")
        self.suite.sign("leaf", self.redist[2], self.redist_signed)
        data = bytearray(read(self.redist_signed))
        data[0x600] ^= 0xFF  # inside .text, covered by the signature's digest
        self.redist_tampered = place("2-tampered", bytes(data))

    def make_packages(self):
        """Lumora 5.1 of the run's architecture (harness.lumora_package), also padded, and the
        copy of version 5.1.0 left beside the setup, another product of the same family."""
        s = self.suite
        src = os.path.join(self.dir, "msi-src")
        self.msi = {"51": harness.lumora_package(s, os.path.join(src, "51")),
                    "51-padded": harness.lumora_package(s, os.path.join(src, "51-padded"), PAD_MIB)}
        self.msi["510"] = harness.lumora_package(s, os.path.join(src, "510"), 0, "5.1.0", OLD_PRODUCT,
                                                 TEXT_510, "{7A1E2B3C-4D5E-4F60-8172-93A4B5C6D700}")
        # Signed by the setup's publisher, by a publisher under an untrusted root (a SHA-1-issued
        # leaf: the only kind whose chain Wine checks), by another publisher whose root the
        # prefix trusts.
        for name, base, leaf in (("51-signed", "51", "leaf"), ("51-other", "51", "leaf2"),
                                 ("51-padded-signed", "51-padded", "leaf"),
                                 ("51-third", "51", "leaf3")):
            self.msi[name] = os.path.join(src, "lumora-%s.msi" % name)
            s.sign(leaf, self.msi[base], self.msi[name])

    # --- one case's surroundings -----------------------------------------------------------

    @contextlib.contextmanager
    def own_prefix(self, fresh_win64=False):
        """The case's own copy of the suite's prefix, with an empty download cache; with
        fresh_win64 a new win64 prefix instead (an x64 system for the x86 build)."""
        self.n += 1
        path = os.path.join(self.dir, "prefix-%02d" % self.n)
        with self.suite.own_prefix(path, self.template, "win64" if fresh_win64 else None):
            for cache in glob.glob(os.path.join(path, "drive_c", "users", "*", "AppData", "Local",
                                                "Microsoft", "Windows", "INetCache")):
                shutil.rmtree(cache, ignore_errors=True)
            self.prefix = path
            yield path

    def server(self, files, status=None, delay_ms=0, faults=()):
        """The HTTPS server on the variants' port serving `files` ({name: source}), answering
        `status` for the package when given; yields a function returning the request lines."""
        return self.suite.https_server(files, self.port, {self.pkg: status} if status else None,
                                       delay_ms, faults, lifetime=T_SERVER)

    def setup_dir(self, variant, files=None, notes=None):
        """A folder with the signed variant as setup.exe and, beside it, copies of `files`
        ({name: source}) and small text files `notes` ({name: content})."""
        d = os.path.join(self.dir, "case-%02d" % self.n)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        exe = os.path.join(d, "setup.exe")
        shutil.copyfile(self.setup[variant], exe)
        for name, src in (files or {}).items():
            shutil.copyfile(src, os.path.join(d, name))
        for name, text in (notes or {}).items():
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        return exe

    # --- running the setup ------------------------------------------------------------------

    def wait_box_or_end(self, proc, limit):
        """'box' once a message box is up, 'ended' once the setup has ended, else 'timeout'."""
        deadline = time.time() + limit
        while time.time() < deadline:
            if proc.poll() is not None:
                return "ended"
            if self.suite.dialogs("find", TITLE, 400, timeout=60)[0] == 0:
                return "box"
        return "timeout"

    def answer(self, boxes, proc, problems):
        """Answers the expected boxes in order; returns whether the setup may now end by
        itself. A box that does not come, or one that was not expected, is a problem."""
        for box in boxes:
            state = self.wait_box_or_end(proc, T_BOX)
            if state != "box":
                problems.append("expected a box %s, but the setup %s" % (
                    json.dumps(getattr(box.text, "pattern", box.text)), "ended" if state == "ended"
                    else "showed none within %d s" % T_BOX))
                return state == "ended"
            # inspect takes the first dialog with the caption, which is the box now that one
            # is up.
            box.got = self.suite.expect_box(problems, TITLE, box.text, box.icon, box.buttons,
                                            box.press, "en", 10000, box.while_up)
            if box.got is None:
                return False
        state = self.wait_box_or_end(proc, T_END)
        if state == "box":
            _, data, raw = self.suite.dialogs("inspect", TITLE, 5000, timeout=60)
            problems.append("an unexpected box came: %s" % json.dumps(
                data.get("text") if data else raw[-300:]))
        elif state == "timeout":
            problems.append("the setup did not end within %d s" % T_END)
        return state == "ended"

    def run_case(self, exe, boxes, want_exit, watch_children=False, first=None):
        """Runs setup.exe through its boxes (with watch_children, under launch.exe children);
        returns (problems, launch.exe's report). first(proc, problems) acts before the boxes
        come; when it returns False the setup is stopped."""
        def interact(proc, problems):
            return (first is None or first(proc, problems)) and self.answer(boxes, proc, problems)
        return self.suite.run_setup(exe, "", "en", interact, want_exit, timeout_ms=T_RUN_MS,
                                    children=watch_children)

    # --- what the case looks at afterwards ---------------------------------------------------

    def product_state(self):
        """{product code: (state, install source)} from the engine of the case's prefix."""
        lines = self.suite.products("state", PRODUCT, OLD_PRODUCT).splitlines()
        return {code: (int(state), source) for code, state, source in (l.split(" ", 2) for l in lines)}

    def installed_text(self):
        path = os.path.join(self.prefix, INSTALLED_FILE)
        return open(path).read() if os.path.exists(path) else None

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
        m = NOT_TRUSTED.fullmatch(box.got or "")
        if not m:
            return
        path = self.suite.host_path(m.group(1))
        if not os.path.isfile(path):
            problems.append("the box names %s, which does not exist" % m.group(1))
        elif open(path, "rb").read() != served:
            problems.append("the file the box names does not hold what the server sent")

    # --- cases: packages ---------------------------------------------------------------------

    def download_row(self, served, beside, variant, http, boxes, want_exit, requests, source):
        """One row of the download table: the server sends `served` (a package, or with an
        HTTP status an error page; "down": no server at all), `beside` lies next to the setup,
        `http` is the status or the fault of the transfer, `boxes` the kinds of boxes in order
        ("ask", "ask+quit", "untrusted", "notfound"), then the exit status, the number of
        package requests, and where the product got installed from ("cache", "beside", or
        None: nowhere). A not-trusted box must name the cached file, holding what was sent.

        Faults: the server sends half the body with the full length announced, then closes
        the connection (--cut) or shuts its sending side (--truncate). Wine's urlmon reports
        that as a success and keeps the partial file, so the trust check is what rejects it
        here (Windows reports the download as failed: exit 2). Either way the half file must
        never reach the engine."""
        self.prepare()
        status = http if isinstance(http, int) else None
        fault = http if isinstance(http, str) else None
        if served == "down" and not nothing_listens(self.port):
            return ["something else listens on port %d" % self.port]
        sent = (open(self.msi[served], "rb").read() if served in self.msi
                else ("<html><body>%s</body></html>" % status).encode())
        sent = sent[:len(sent) // 2] if fault else sent
        kinds = {"ask": lambda: self.question(ASK_FIRST),
                 "ask+quit": lambda: self.question(ASK_FIRST, stray_quit=True),
                 "untrusted": lambda: Box(NOT_TRUSTED, "error", [IDOK], IDOK),
                 "notfound": lambda: Box(PACKAGE_NOT_FOUND % self.package_url, "error", [IDOK], IDOK)}
        shown = [kinds[k]() for k in boxes]
        server = (contextlib.nullcontext(None) if served == "down" else self.server(
            {self.pkg: self.msi[served]} if served in self.msi else {}, status=status,
            faults=[fault, self.pkg] if fault else ()))
        with self.own_prefix(), server as seen:
            exe = self.setup_dir(variant, {self.pkg: self.msi[beside]} if beside else {})
            problems, _ = self.run_case(exe, shown, want_exit)
            if seen:
                self.expect_requests(problems, seen, [self.query] * requests)
            if source:
                self.expect_installed(problems, from_cache=source == "cache",
                                      source_dir=os.path.dirname(exe) if source == "beside" else None)
            else:
                self.expect_not_installed(problems)
            for box in shown:
                self.expect_cached(problems, box, sent)
        return problems

    def question(self, text, answer=IDYES, stray_quit=False):
        """A Yes/No question of the setup; with stray_quit, WM_QUIT comes while it is up."""
        return Box(text, "question", [IDYES, IDNO], answer,
                   while_up=self.stray_quit if stray_quit else None)

    def stray_quit(self):
        """While a question is up: another program posts WM_QUIT to the setup's main thread
        (the thread of its progress window), which ends its main loop early."""
        rc, _, out = self.suite.dialogs("quit", TITLE, timeout=60)
        time.sleep(0.5)  # the main thread takes it before the question is answered
        return [] if rc == 0 else ["posting WM_QUIT to the setup's main thread failed "
                                   "(dialogs.exe %d %s)" % (rc, out)]

    def held_engine(self):
        """The recording engine (engine_shim.c, built as bin/engine/msi.dll) in a folder of its
        own, registered in the current prefix copy, whose first MsiOpenDatabaseW waits for a
        "release" file: the setup is then held between the first cancel check and the
        download. Returns the shim's folder."""
        s = self.suite
        shim = os.path.join(self.dir, "shim")
        shutil.rmtree(shim, ignore_errors=True)
        os.makedirs(shim)
        shutil.copyfile(os.path.join(s.bin, "engine", "msi.dll"), os.path.join(shim, "msi.dll"))
        with open(os.path.join(shim, "shim.cfg"), "w") as f:
            f.write("hold_open_ms=%d\n" % (T_BOX * 1000))
        s.reg_add("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
                  "InstallerLocation", win_path(shim))
        # Otherwise Wine loads its builtin engine under the shim's name.
        s.reg_add("HKCU\\Software\\Wine\\DllOverrides", "msi", "native,builtin")
        return shim

    def press_cancel(self, problems):
        return self.suite.press(problems, TITLE, IDCANCEL, "Cancel", "en", 10000)

    def cancel_before_transfer(self):
        """Cancel pressed while the copy beside the setup (version 5.1.0) is being read: the
        check before the transfer finds it, and nothing is requested."""
        self.prepare()
        with self.own_prefix(), self.server({self.pkg: self.msi["51-signed"]}) as requests:
            shim = self.held_engine()
            held = os.path.join(shim, "held")
            exe = self.setup_dir("download", {self.pkg: self.msi["510"]})

            def cancel(proc, problems):
                try:
                    if harness.wait_until(lambda: os.path.exists(held), T_BOX,
                                          give_up=lambda: proc.poll() is not None):
                        return self.press_cancel(problems)
                    problems.append("the setup never opened the package beside it")
                    return False
                finally:
                    open(os.path.join(shim, "release"), "w").close()
            problems, _ = self.run_case(exe, [Box(CANCELLED, "warning", [IDOK], IDOK)], 1602,
                                        first=cancel)
            self.expect_requests(problems, requests, [])
            self.expect_not_installed(problems)
        return problems

    def cancel_during_transfer(self):
        """Cancel pressed while a slow transfer runs, once the server has the request and the
        bar has moved: the run must end well before the whole transfer could have."""
        self.prepare()
        size = os.path.getsize(self.msi["51-padded-signed"])
        min_transfer_ms = ((size + 65535) // 65536 - 1) * SLOW_DELAY_MS
        with self.own_prefix(), self.server({self.pkg: self.msi["51-padded-signed"]},
                                            delay_ms=SLOW_DELAY_MS) as requests:
            def cancel(proc, problems):
                bar = {}

                def moving():
                    if requests():
                        bar.update(self.suite.dialogs("progress", TITLE, timeout=60)[1] or {})
                    return bar.get("found") and bar["pos"] > 0
                if not harness.wait_until(moving, 30, 0.1, lambda: proc.poll() is not None):
                    problems.append("no transfer in progress to cancel (server saw %s, window %s)"
                                    % (requests(), bar))
                    return False
                for what, got, want in (("title", bar["title"], PROGRESS_TITLE),
                                        ("status", bar["status"], PROGRESS_STATUS % self.pkg),
                                        ("range", (bar["low"], bar["high"]), (0, size))):
                    if got != want:
                        problems.append("progress %s %r, expected %r" % (what, got, want))
                if not 0 < bar["pos"] < size:
                    problems.append("progress bar at %d, expected part way to %d" % (bar["pos"], size))
                self.suite.screenshot("download-progress.png")
                return self.press_cancel(problems)
            problems, res = self.run_case(self.setup_dir("download"),
                                          [Box(CANCELLED, "warning", [IDOK], IDOK)], 1602, first=cancel)
            if res["ended"] == "self" and int(res["ms"]) >= min_transfer_ms:
                problems.append("the setup ran %s ms, as long as the whole transfer takes (%d ms): "
                                "Cancel did not stop it" % (res["ms"], min_transfer_ms))
            self.expect_requests(problems, requests, [self.query])
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

    def upgrade_local(self, want_exit, redist_major=2, redist_exit=None, answer=IDYES,
                      stray_quit=False):
        """InstMSIW.exe and the package beside the setup."""
        self.prepare()
        with self.own_prefix():
            files = {REDIST: self.redist[redist_major], self.pkg: self.msi["51"]}
            notes = {"instmsi-exit.txt": "%d\n" % redist_exit} if redist_exit is not None else {}
            exe = self.setup_dir("download-upgrade", files, notes)
            redist = win_path(os.path.join(os.path.dirname(exe), REDIST))
            boxes = [self.question(UPGRADE_PROMPT, answer, stray_quit)]
            runs = []
            if answer == IDNO:
                boxes.append(Box(CANCELLED, "warning", [IDOK], IDOK))
            elif redist_major == 10:
                boxes.append(Box(INVALID_INSTMSI % redist, "error", [IDOK], IDOK))
            else:
                runs = [(re.escape(REDIST_CMDLINE % redist), redist_exit or 0)]
                if redist_exit == 3010:
                    # Answered No: the run then ends with 3010 (only once the user answered).
                    boxes.append(Box(RESTART_PROMPT, "question", [IDYES, IDNO], IDNO,
                                     while_up=self.restart_box_comes_last))
            problems, res = self.run_case(exe, boxes, want_exit, watch_children=True)
            self.expect_children(problems, res, runs)
            calls = self.redist_calls()
            if calls != [REDIST_CMDLINE % redist] * len(runs):
                problems.append("the redistributable was run with %s" % calls)
            if runs:
                self.expect_installed(problems, source_dir=os.path.dirname(exe))
            else:
                self.expect_not_installed(problems)
        return problems

    def restart_box_comes_last(self):
        """While the restart question is up: the package is installed, the window gone."""
        problems = []
        if self.product_state()[PRODUCT][0] != 5:
            problems.append("the restart question came before the package was installed")
        _, bar, out = self.suite.dialogs("progress", TITLE, timeout=60)
        if not bar or bar.get("found"):
            problems.append("the progress window still exists under the restart question (%s)" % out)
        return problems

    def upgrade_download(self, want_exit, signed=True, tampered=False):
        self.prepare()
        source = self.redist_signed if signed else self.redist[2]
        if tampered:
            source, signed = self.redist_tampered, False
        files = {REDIST: source, self.pkg: self.msi["51-signed"]}
        with self.own_prefix(), self.server(files) as requests:
            exe = self.setup_dir("download-upgrade")
            boxes = [self.question(UPGRADE_PROMPT)]
            if not signed:
                boxes.append(Box(NOT_TRUSTED, "error", [IDOK], IDOK))
            problems, res = self.run_case(exe, boxes, want_exit, watch_children=True)
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
                cached = self.suite.host_path(m.group(1))
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
                if not signed and boxes[1].got != named:
                    problems.append("the box does not name the verified file %s" % m.group(1))
            if signed:
                self.expect_requests(problems, requests, [REDIST_PATH, self.query])
                self.expect_installed(problems, from_cache=True)
            else:
                self.expect_requests(problems, requests, [REDIST_PATH])
                self.expect_not_installed(problems)
        return problems

    def upgrade_refused(self, want_exit, x64=False, stray_quit=False):
        """The upgrade question, then nothing started, fetched or installed. x64: no
        redistributable fits an x64 system, so 1633 follows without a message (the x86 build
        sees such a system in a fresh win64 prefix, the x64 build in every prefix). Otherwise
        the redistributable cannot be downloaded: nothing listens on the server's port."""
        self.prepare()
        if not x64 and not nothing_listens(self.port):
            return ["something else listens on port %d" % self.port]
        files = {REDIST: self.redist_signed, self.pkg: self.msi["51-signed"]}
        server = self.server(files) if x64 else contextlib.nullcontext(None)
        with self.own_prefix(fresh_win64=x64 and self.suite.arch == "x86"), server as requests:
            boxes = [self.question(UPGRADE_PROMPT, stray_quit=stray_quit)]
            if not x64:
                boxes.append(Box(INSTMSI_NOT_FOUND % self.redist_url, "error", [IDOK], IDOK))
            problems, res = self.run_case(self.setup_dir("download-upgrade"), boxes, want_exit,
                                          watch_children=True)
            self.expect_children(problems, res, [])
            if requests:
                self.expect_requests(problems, requests, [])
            if self.redist_calls():
                problems.append("the redistributable was run: %s" % self.redist_calls())
            self.expect_not_installed(problems)
        return problems


def add_cases(suite):
    g = Downloads(suite)
    # The download table: (name, served, beside, variant, HTTP status or fault, boxes, exit,
    # package requests, installed from).
    suite.table("download", [
        ("no local copy: downloaded, verified and installed from the cache",
         "51-signed", None, "download", None, (), 0, 1, "cache"),
        ("a local copy of version 5.1.0 is not used: the download is installed",
         "51-signed", "510", "download", None, (), 0, 1, "cache"),
        ("a local copy of version 5.1 is installed unverified, nothing downloaded",
         "51-signed", "51", "download", None, (), 0, 0, "beside"),
        ("a package that asks first: Yes installs it",
         "51-signed", "51", "download-ask", None, ("ask",), 0, 0, "beside"),
        ("a package that asks first, a stray WM_QUIT to the main thread during the question: "
         "Yes still installs it", "51-signed", "51", "download-ask", None, ("ask+quit",), 0, 0,
         "beside"),
        ("unsigned package: not trusted, exit 4",
         "51", None, "download", None, ("untrusted",), 4, 1, None),
        ("package signed by a SHA-1-issued leaf under an untrusted root: not trusted, exit 4",
         "51-other", None, "download", None, ("untrusted",), 4, 1, None),
        ("HTTP 404: the error page is saved and not trusted, exit 4",
         None, None, "download", 404, ("untrusted",), 4, 1, None),
        ("HTTP 500: the error page is saved and not trusted, exit 4",
         None, None, "download", 500, ("untrusted",), 4, 1, None),
        ("server down: package not found, exit 2",
         "down", None, "download", None, ("notfound",), 2, 0, None),
        # Signed by a publisher other than the setup's: the last verification shows the
        # platform's full trust user interface (Wine shows none and trusts the trusted root).
        ("another publisher under a trusted root: accepted through the full trust UI",
         "51-third", None, "download", None, (), 0, 1, "cache"),
        ("connection cut mid-transfer: the half file is rejected, exit 4",
         "51-padded-signed", None, "download", "--cut", ("untrusted",), 4, 1, None),
        ("truncated body: the half file is rejected, exit 4",
         "51-padded-signed", None, "download", "--truncate", ("untrusted",), 4, 1, None),
    ], g.download_row, ("server down: package not found, exit 2", lambda a: a[:5] + [0] + a[6:]))
    suite.case("download: Cancel before the transfer: only 'Setup was cancelled.', nothing "
               "requested", g.cancel_before_transfer)
    suite.case("download: Cancel during a slow transfer: only 'Setup was cancelled.', exit 1602",
               g.cancel_during_transfer)
    # The engine upgrade table: (name, how, exit, arguments, the one architecture it exists
    # for). The upgrade through the redistributable (its run, its child verification, the
    # restart question after it) is x86's only; the x64 build ends after the question with 1633.
    rows = [
        ("InstMSIW.exe beside the setup runs unverified with its command line",
         "upgrade_local", 0, {}, "x86"),
        ("downloaded InstMSIW.exe verified by a child setup.exe /v, then run",
         "upgrade_download", 0, {}, "x86"),
        ("unsigned downloaded InstMSIW.exe: not trusted, never run, exit 4",
         "upgrade_download", 4, {"signed": False}, "x86"),
        ("tampered signed InstMSIW.exe: not trusted, never run, exit 4",
         "upgrade_download", 4, {"tampered": True}, "x86"),
        ("InstMSIW.exe cannot be downloaded: exit 2", "upgrade_refused", 2, {}, "x86"),
        ("exit 3010: package installed, then the restart question",
         "upgrade_local", 3010, {"redist_exit": 3010}, "x86"),
        ("exit 3010 after a stray WM_QUIT during the upgrade question: the restart question "
         "still waits for its answer", "upgrade_local", 3010,
         {"redist_exit": 3010, "stray_quit": True}, "x86"),
        ("InstMSIW.exe of version 10.0 is invalid: exit 87",
         "upgrade_local", 87, {"redist_major": 10}, "x86"),
        ("No to the upgrade question: cancelled, exit 1602",
         "upgrade_local", 1602, {"answer": IDNO}, None),
        ("x64 system (win64 prefix): exit 1633, no message, nothing fetched",
         "upgrade_refused", 1633, {"x64": True}, None),
        ("x64 system, a stray WM_QUIT to the main thread during the question: exit 1633",
         "upgrade_refused", 1633, {"x64": True, "stray_quit": True}, None),
    ]
    suite.table("download, engine upgrade",
                [row[:4] for row in rows if row[4] in (None, suite.arch)],
                lambda how, want, kw: getattr(g, how)(want, **kw),
                ("No to the upgrade question: cancelled, exit 1602", lambda a: [a[0], 0, a[2]]))
    # A non-administrator would get the "Admin priviledges are required" box; Wine's user
    # is always an administrator, so that path cannot be shown here.
    if suite.wanted("download, engine upgrade: admin"):
        suite.skip("download, engine upgrade: admin-required box",
                   "Wine's user is always an administrator")
