#!/usr/bin/env python3
"""make try PACKAGES=dir [TABLES=file] [CERT=chain.pem KEY=key.pem [KEY_PASS=...]]
          [ARCH=x86|x64 [WINEARCH=win32]] [UI_LEVEL=N] [WINE_RELEASE=bookworm|trixie]

A vendor's setup and packages installed under Wine before anything is uploaded:

1. Checks PACKAGES against TABLES (default app/setup_tables.cpp): every file name the tables
   give must be there, and every .msi of a row with an expected version must carry exactly
   that ProductVersion. Anything wrong is listed and nothing runs.
2. In build/try: builds a variant of the tables for the setup's architecture ARCH (x86 by
   default where the kernel runs 32-bit x86 code, else x64) whose download addresses keep
   their path and query but point at https://localhost:PORT; signs it and copies of the
   packages with CERT/KEY, or with a throw-away test publisher (tests/wine/pki.sh) whose CA
   only the prefix trusts; serves the packages with tests/wine/https_server.py.
3. Makes a 64-bit Windows prefix (x64: 64-bit Wine; x86: the setup under WOW64, or with
   WINEARCH=win32 a 32-bit Windows) inside a Debian root (tests/wine/roots.sh) and runs the
   setup twice in copies of it, all through tests/harness.py: "download" (setup.exe alone)
   and "beside" (the packages next to it). A language dialog is answered with its preselection, a question
   with Yes, a message box with OK (its text is printed). For each run: the exit status and
   its meaning, the server's requests, each product's state, the new files under Program
   Files, and a contact sheet of the progress window (build/try/RUN/progress.png).

Exit status 0 when both runs ended with 0. `try.py --prepare-only` stops before Wine;
TRY_DELAY_MS=N slows the server down (N ms after every 64 KiB) to watch small packages. Wine runs in the Debian root of WINE_RELEASE
(default bookworm, Wine 8; trixie for Wine 10); roots.sh needs root privileges.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "scripts"), os.path.join(ROOT, "tests")]
import harness  # noqa: E402  (the helpers and setup variants per architecture, the ia32 probe)
import tables  # noqa: E402

WORK = os.path.join(ROOT, "build", "try")
TITLE = "Windows Installer Installation Wrapper"
LANGUAGE_TITLE = "Choose setup language"
RUN_TIMEOUT_S = 600
IDOK, IDYES = 1, 6

MEANINGS = {
    0: "success: every row installed (or declined)",
    2: "a file was neither beside the setup nor downloadable",
    4: "a downloaded file is not trusted",
    87: "an operation keyword the setup does not accept, or an invalid redistributable",
    120: "signatures cannot be verified on this system",
    160: "bad arguments, or a package row without languages",
    1602: "cancelled, or no file for this machine's processor",
    1603: "the engine cannot be used, or the engine's fatal error",
    1618: "another setup or installation is running",
    1633: "no redistributable for this processor, or the package's platform does not fit",
    1641: "a restart has been started",
    3010: "installed; a restart is required (later rows were not handled)",
}


def die(text):
    sys.stderr.write("try: %s\n" % text)
    sys.exit(1)


def log(text):
    print("\n== %s" % text)
    sys.stdout.flush()


def run(cmd, what, timeout=300, **kw):
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                          timeout=timeout, **kw)
    if proc.returncode != 0:
        die("%s failed:\n%s" % (what, proc.stdout.decode(errors="replace")[-2000:]))
    return proc.stdout.decode(errors="replace")


# --- the packages against the tables ----------------------------------------------------------

def msi_properties(path):
    """{property: value} of a package's Property table (msiinfo), or None."""
    proc = subprocess.run(["msiinfo", "export", path, "Property"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)
    if proc.returncode != 0:
        return None
    rows = proc.stdout.decode(errors="replace").splitlines()[3:]  # two header lines, one type line
    return dict(r.split("\t", 1) for r in rows if "\t" in r)


def check_packages(config, packages):
    """(problems, notes, {file name: ProductCode}) of PACKAGES against the tables."""
    problems, notes, codes = [], [], {}
    for row, lang, column, kind, name in tables.files(config):
        where = "%s, %s, %s" % (row["productName"], lang["languageName"], column)
        path = os.path.join(packages, name)
        if not os.path.isfile(path):
            problems.append("%s (%s) is not in %s" % (name, where, packages))
            continue
        if kind == "patchFiles":
            if row["expectedVersion"]:
                notes.append("%s is a patch: its row's expected version %r can never match, so a copy "
                             "beside the setup is never used" % (name, row["expectedVersion"]))
            continue
        props = msi_properties(path)
        if props is None:
            problems.append("%s (%s) is not a Windows Installer package" % (name, where))
            continue
        if props.get("ProductCode"):
            codes[name] = props["ProductCode"]
        want = row["expectedVersion"]
        have = props.get("ProductVersion", "")
        if want is not None and have.lower() != want.lower():
            problems.append("%s (%s) has ProductVersion %r, the tables expect %r" % (name, where, have, want))
        elif want is not None and len(have) >= 16:
            problems.append("%s (%s): a ProductVersion of 16 or more characters is never read, so the copy "
                            "beside the setup is never used" % (name, where))
    for row in config["packages"]:
        url = row["downloadUrl"]
        if url is None:
            notes.append("%s has no download address: the download run cannot fetch it" % row["productName"])
        elif not url.endswith(("/", "=")):
            notes.append("the file name is appended directly to %s (no '/' is added)" % url)
    return problems, notes, codes


# --- the variant, the signatures, the server ----------------------------------------------------

def local_address(url, port):
    if url is None:
        return None
    parts = urllib.parse.urlsplit(url)
    return urllib.parse.urlunsplit(("https", "localhost:%d" % port, parts.path or "/", parts.query,
                                    parts.fragment))


def choose_port(want):
    for port in (want, 0):
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", port))
                return s.getsockname()[1]
            except OSError:
                continue
    die("no free port")


def self_signed_root(chain_path, out_path):
    """Writes the chain's last certificate to out_path when it is self-signed."""
    certs = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n?", open(chain_path).read(), re.S)
    if not certs:
        return False
    with open(out_path, "w") as f:
        f.write(certs[-1])
    names = run(["openssl", "x509", "-in", out_path, "-noout", "-subject", "-issuer"], "openssl").splitlines()
    return names[0].split("=", 1)[1] == names[1].split("=", 1)[1]


def sign(src, dst, signer, description, root):
    chain, key, passfile = signer
    if os.path.exists(dst):
        os.remove(dst)
    cmd = ["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256", "-n", description]
    if passfile:
        cmd += ["-readpass", passfile]
    run(cmd + ["-in", src, "-out", dst], "signing %s" % os.path.basename(src))
    if root:
        run(["osslsigncode", "verify", "-CAfile", root, "-in", dst], "verifying the signature of %s" % dst)


def prepare(env):
    packages = env.get("PACKAGES") or die("no package directory (PACKAGES=dir)")
    if not os.path.isdir(packages):
        die("%s: no such directory" % packages)
    packages = os.path.abspath(packages)
    tables_file = os.path.abspath(env.get("TABLES") or os.path.join(ROOT, "app", "setup_tables.cpp"))
    cert, key = env.get("CERT"), env.get("KEY")
    if bool(cert) != bool(key):
        die("give CERT and KEY together, or neither")
    arch, winearch = env.get("ARCH") or None, env.get("WINEARCH") or "win64"
    if arch not in (None, "x86", "x64"):
        die("ARCH is the setup's architecture, x86 or x64, not %s" % arch)
    if winearch not in ("win64", "win32"):
        die("WINEARCH is win64 (the default) or win32, not %s" % winearch)
    if not arch:  # the x86 setup where the kernel runs 32-bit x86 code
        reason = None if winearch == "win32" else harness.ia32_refused()
        arch = "x64" if reason else "x86"
        print("ARCH=%s: %s" % (arch, reason or "the default where the kernel runs 32-bit x86 code"))
    if winearch == "win32" and arch == "x64":
        die("WINEARCH=win32 is a 32-bit Windows, where the x64 setup cannot run: give ARCH=x86")
    config = tables.load(tables_file)

    log("checking %s against %s" % (packages, tables_file))
    problems, notes, codes = check_packages(config, packages)
    for n in notes:
        print("note: %s" % n)
    if problems:
        for p in problems:
            print("problem: %s" % p)
        die("%d package problem(s): nothing was run" % len(problems))
    print("every file the tables name is there, with the expected versions")

    if os.path.isdir(WORK):
        shutil.rmtree(WORK)
    pki = os.path.join(WORK, "pki")
    os.makedirs(pki)
    run(["bash", os.path.join(ROOT, "tests", "wine", "pki.sh"), pki], "making the test PKI")
    cas = [os.path.join(pki, "ca.pem")]
    passfile = None
    if cert:
        for f in (cert, key):
            if not os.path.isfile(f) or not os.access(f, os.R_OK):
                die("%s: no such readable file" % f)
        cert, key = os.path.abspath(cert), os.path.abspath(key)
        if env.get("KEY_PASS"):
            passfile = os.path.join(pki, "pass")
            fd = os.open(passfile, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
            os.write(fd, env["KEY_PASS"].encode())
            os.close(fd)
        root = os.path.join(pki, "vendor-root.pem")
        if self_signed_root(cert, root):
            cas.append(root)
        else:
            root = None  # the root must be one the system store of the Wine root knows
        signer = (cert, key, passfile)
    else:
        root = os.path.join(pki, "ca.pem")
        signer = (os.path.join(pki, "leaf-chain.pem"), os.path.join(pki, "leaf.key"), None)
    with open(os.path.join(pki, "cas.json"), "w") as f:
        json.dump(cas, f)

    port = choose_port(int(env.get("TRY_PORT") or 47902))
    variant = json.loads(json.dumps(config))
    variant["redistBaseUrl"] = local_address(config["redistBaseUrl"], port)
    addresses = {}
    for row in variant["packages"]:
        original = row["downloadUrl"]
        row["downloadUrl"] = local_address(original, port)
        if env.get("UI_LEVEL"):
            row["uiLevel"] = int(env["UI_LEVEL"])
        for lang in row["languages"] or []:
            for name in lang["packageFiles"] + lang["patchFiles"]:
                if name and row["downloadUrl"]:
                    parts = urllib.parse.urlsplit(row["downloadUrl"] + name)
                    addresses[parts.path + ("?" + parts.query if parts.query else "")] = name
    with open(os.path.join(WORK, "addresses.json"), "w") as f:
        json.dump(addresses, f, indent=1)
    log("the variant of the tables: downloads from https://localhost:%d" % port)
    for row in variant["packages"]:
        print("  %s: %s" % (row["productName"], row["downloadUrl"]))
    exe = harness.build_variants({"try": tables.source(variant)}, arch)["try"]

    description, _ = tables.signing(config)
    log("signing the variant and the packages (%s)" % (cert or "a throw-away test publisher"))
    sign(exe, os.path.join(WORK, "setup.exe"), signer, description or "setup", root)
    serve = os.path.join(WORK, "serve")
    os.makedirs(serve)
    for name in sorted(set(n for _, _, _, _, n in tables.files(config))):
        sign(os.path.join(packages, name), os.path.join(serve, name), signer, description or name, root)
        print("  %s" % name)

    log("the %s helpers that answer the dialogs and read the results" % arch)
    built = harness.build_helpers(arch)
    bindir = os.path.join(WORK, "bin")
    os.makedirs(bindir)
    for helper in ("launch", "dialogs", "products"):
        shutil.copy(os.path.join(built, helper + ".exe"), bindir)
    state = {"port": port, "arch": arch, "winearch": winearch, "codes": codes, "packages": packages}
    with open(os.path.join(WORK, "state.json"), "w") as f:
        json.dump(state, f)
    return state


# --- under Wine: every step through the tests' harness ------------------------------------------

def start_server(port, logfile):
    pki = os.path.join(WORK, "pki")
    port_file = logfile + ".port"
    proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "wine", "https_server.py"), "--dir",
                             os.path.join(WORK, "serve"), "--cert", os.path.join(pki, "server.pem"),
                             "--key", os.path.join(pki, "server.key"), "--port", str(port),
                             "--port-file", port_file, "--log", logfile, "--map",
                             os.path.join(WORK, "addresses.json"), "--lifetime", str(RUN_TIMEOUT_S + 120),
                             "--delay-ms", os.environ.get("TRY_DELAY_MS") or "0"],
                            stdin=subprocess.DEVNULL)
    if not harness.wait_until(lambda: os.path.exists(port_file), 10, 0.1, lambda: proc.poll() is not None):
        proc.kill()
        proc.wait(timeout=30)
        die("the HTTPS server did not start on port %d" % port)
    return proc


def answer_dialogs(s, events):
    """Answers what the setup waits for: the language dialog (OK), a message box (Yes when
    it asks, else OK). Returns True when it pressed something."""
    if s.dialogs("press", LANGUAGE_TITLE, IDOK, 100, timeout=30)[0] == 0:
        events.append("language dialog: OK (the preselected language)")
        return True
    if s.dialogs("find", TITLE, 0, timeout=30)[0] != 0:
        return False
    box = s.dialogs("inspect", TITLE, 2000, "--box", timeout=30)[1]
    if not isinstance(box, dict):
        return False
    ids = [b.get("id") for b in box.get("buttons", []) if isinstance(b, dict)]
    press = IDYES if IDYES in ids else IDOK
    events.append("message box: %r, pressed %s" % (box.get("text"), "Yes" if press == IDYES else "OK"))
    s.dialogs("press", TITLE, press, 2000, timeout=30)
    return True


def watch(s, proc, rundir, events):
    """Answers dialogs and takes screenshots of the progress window (at most 12) until the
    run ends; returns [(screenshot, its label)]."""
    shots, deadline = [], time.time() + RUN_TIMEOUT_S + 60
    s.shots = rundir
    while proc.poll() is None and time.time() < deadline:
        try:
            if answer_dialogs(s, events):
                continue
            p = s.dialogs("progress", TITLE, timeout=30)[1] or {}
        except harness.SetupError:  # dialogs.exe overran twice: look again
            continue
        if p.get("found") and p.get("visible") and len(shots) < 12:
            shot = os.path.join(rundir, "progress-%02d.png" % (len(shots) + 1))
            s.screenshot(os.path.basename(shot))
            if os.path.exists(shot):
                shots.append((shot, "%s | %s | %d/%d" % (p.get("title"), p.get("status"), p.get("pos", 0),
                                                         p.get("high", 0))))
        time.sleep(0.5)
    return shots


def program_files(prefix):
    """Every file under the prefix's Program Files folders, relative to drive_c."""
    found = set()
    drive = os.path.join(prefix, "drive_c")
    for pf in ("Program Files", "Program Files (x86)"):
        for dirpath, _, fnames in os.walk(os.path.join(drive, pf)):
            found.update(os.path.relpath(os.path.join(dirpath, f), drive) for f in fnames)
    return found


def one_run(s, name, template, state, beside):
    rundir = os.path.join(WORK, name)
    os.makedirs(rundir)
    shutil.copy(os.path.join(WORK, "setup.exe"), rundir)
    if beside:
        for f in os.listdir(os.path.join(WORK, "serve")):
            shutil.copy(os.path.join(WORK, "serve", f), rundir)
    requests = os.path.join(rundir, "requests.log")
    open(requests, "w").close()
    events, states = [], {}
    with s.own_prefix(os.path.join(rundir, "prefix"), template) as prefix:
        before = program_files(prefix)
        server = start_server(state["port"], requests)
        try:
            proc = s.start_setup(os.path.join(rundir, "setup.exe"), "", "en",
                                 timeout_ms=RUN_TIMEOUT_S * 1000)
            shots = watch(s, proc, rundir, events)
            try:  # a run still going at the deadline is stopped: it has no exit status
                res = s.end_setup(proc, stop_now=proc.poll() is None)
                code = res["code"] if res["ended"] == "self" else None
            except harness.SetupError:
                code = None
        finally:
            server.terminate()
            server.wait(timeout=30)
        if state["codes"]:
            for line in s.products("state", *sorted(set(state["codes"].values()))).replace("\r", "").splitlines():
                parts = line.split(" ", 2)
                if len(parts) >= 2 and parts[1].lstrip("-").isdigit():
                    states[parts[0]] = int(parts[1])
        new = sorted(program_files(prefix) - before)

    log("run '%s': %s" % (name, "the packages beside setup.exe" if beside else "setup.exe alone, downloading"))
    for e in events:
        print(e)
    if code is None:
        print("exit status: none (the run did not end in %d s)" % RUN_TIMEOUT_S)
    else:
        print("exit status of setup.exe: %d (0x%08X): %s" % (code, code, MEANINGS.get(
            code, "the engine's or the redistributable's own code")))
    print("requests the server saw:")
    seen = [l for l in open(requests).read().splitlines() if l]
    print("\n".join("  " + l for l in seen) or "  none")
    print("products (MsiQueryProductState: 5 installed, -1 unknown):")
    for fname, product in sorted(state["codes"].items()):
        print("  %s %s: %s" % (fname, product, states.get(product, "?")))
    print("new files under Program Files:")
    print("\n".join("  C:\\" + n.replace("/", "\\") for n in new) or "  none")
    if shots:
        sheet = os.path.join(rundir, "progress.png")
        cmd = ["montage"]
        for shot, label in shots:
            cmd += ["-label", label, shot]
        subprocess.run(cmd + ["-tile", "3x", "-geometry", "480x360+4+4", "-pointsize", "11", sheet],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if os.path.exists(sheet):
            print("progress window: %s (%d screenshots)" % (sheet, len(shots)))
        else:
            print("progress window: %d screenshots in %s (montage failed)" % (len(shots), rundir))
    else:
        print("progress window: no screenshot (it was not up while looked at)")
    result = {"exit": code, "requests": seen, "states": states, "files": new}
    with open(os.path.join(rundir, "result.json"), "w") as f:
        json.dump(result, f, indent=1)
    return result


def wine_part(release):
    """The prefix and the two runs, through the harness; the CAs a Wine 10 root's store was
    given for the prefix are taken out of it again afterwards."""
    state = json.load(open(os.path.join(WORK, "state.json")))
    s = harness.Suite(os.path.join(WORK, "setup.exe"), WORK, keep=True, arch=state["arch"])
    s.winearch = state["winearch"]  # the x86 setup in a 64-bit prefix, unless WINEARCH=win32
    log("a %s Wine prefix for the %s setup (Wine of the Debian %s root) trusting the test CA"
        % (state["winearch"], state["arch"], release))
    added, results = [], []
    try:
        s.display = os.environ.get("DISPLAY") or None
        if not s.display:
            s.start_xvfb()
        added = s.make_prefix(json.load(open(os.path.join(WORK, "pki", "cas.json"))))
        results = [one_run(s, "download", s.prefix, state, False), one_run(s, "beside", s.prefix, state, True)]
    finally:
        s.stop_wineserver()
        s.stop_xvfb()
        for f in added:
            os.remove(f)
        if added:
            s.wine_of_run.update_store(s)
    return 0 if all(r["exit"] == 0 for r in results) else 1


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--wine-part":
        return wine_part(sys.argv[2])
    release = os.environ.get("WINE_RELEASE") or "bookworm"
    state = prepare(os.environ)
    if sys.argv[1:] == ["--prepare-only"]:  # the checks, the variant and the signatures only
        return 0
    reason = harness.ia32_refused() if state["arch"] == "x86" else None
    if reason:
        die("the x86 variant and the signed packages are ready in build/try; nothing was run: Wine "
            "cannot start the x86 setup.exe on this machine: %s.\nBoth 32-bit Wine and Wine's WoW64 mode need the "
            "kernel to run 32-bit x86 code; give ARCH=x64 to try the x64 setup here, or run make try "
            "on a machine whose kernel does." % reason)
    roots = [os.path.join(ROOT, "tests", "wine", "roots.sh"), "run", release]
    return subprocess.run(roots + [sys.executable, os.path.abspath(__file__), "--wine-part", release],
                          stdin=subprocess.DEVNULL).returncode


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(143))
    try:
        sys.exit(main())
    except (harness.SetupError, tables.TablesError) as e:  # what failed, and nothing more
        die(str(e))
