#!/usr/bin/env python3
"""Tests of `make release`: the demo's tables built for x86 and x64, signed with a test certificate
and a time stamp from a local time-stamp server, a chain without its root, an encrypted key (x64
alone), and each refusal (missing, unreadable or mismatched certificate or key, a wrong pass
phrase, tables that do not compile or not for x64, an unknown ARCH, an unreachable time-stamp
server), after which the output directory must hold exactly what it held before.

Ends with "release: N passed, M failed, 0 skipped"."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests"))
from harness import Report, lumora_download_tables, pe_arch  # noqa: E402  (the demo's tables)

OUT_FILES = {"x86": "setup.exe", "x64": os.path.join("x64", "setup.exe")}
REPORT = Report("release")
check = REPORT.report


def release(tables, cert, key, out, **env):
    e = dict({k: v for k, v in os.environ.items() if k not in ("KEY_PASS", "TIMESTAMP_URL", "ARCH")}, OUT=out, **env)
    proc = subprocess.run(["make", "--no-print-directory", "-C", REPO, "release", "TABLES=" + tables,
                           "CERT=" + cert, "KEY=" + key], env=e, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=900)
    return proc.returncode, proc.stdout.decode(errors="replace"), proc.stderr.decode(errors="replace")


def listing(d):
    """{relative path: content, None for a folder} of d itself (".") and of everything under it."""
    found = {".": None} if os.path.isdir(d) else {}
    for path, dirs, files in os.walk(d):
        found.update({os.path.relpath(os.path.join(path, n), d): None if n in dirs else
                      open(os.path.join(path, n), "rb").read() for n in dirs + files})
    return found


def start_tsa(work):
    port_file = os.path.join(work, "tsa.port")
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, "tsa_server.py"), "--dir",
                             os.path.join(work, "tsa"), "--port-file", port_file, "--lifetime", "900"],
                            stdin=subprocess.DEVNULL)
    for _ in range(300):
        if os.path.exists(port_file) or proc.poll() is not None:
            break
        time.sleep(0.1)
    if not os.path.exists(port_file):
        proc.kill()
        proc.wait(timeout=30)
        return None, None
    return proc, "http://127.0.0.1:%s/" % open(port_file).read().strip()


def good_release(name, tables, cert, key, ca, out, want_how, env=None, stamp=False, archs=("x86", "x64")):
    """Each architecture's setup.exe (and nothing else) in out, of that architecture, signed and verified."""
    code, stdout, stderr = release(tables, cert, key, out, **(env or {}))
    if code != 0:
        check(name, ["exit %d: %s" % (code, stderr.strip()[-500:])])
        return
    want_files = {".": None, **({"x64": None} if "x64" in archs else {}), **{OUT_FILES[a]: 1 for a in archs}}
    problems = [] if sorted(listing(out)) == sorted(want_files) else ["out holds %s" % sorted(listing(out))]
    for arch in archs:
        exe = os.path.join(out, OUT_FILES[arch])
        data = open(exe, "rb").read() if os.path.isfile(exe) else b""
        if not data or pe_arch(exe) != arch:
            problems.append("%s is not an %s setup" % (exe, arch))
        if "release: %s\n" % exe not in stdout or "size         %d bytes" % len(data) not in stdout:
            problems.append("no report of %s with its size of %d bytes" % (exe, len(data)))
        if "SHA-256      %s" % hashlib.sha256(data).hexdigest() not in stdout:
            problems.append("no SHA-256 line with the digest of %s" % exe)
        v = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", exe], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=60).stdout.decode(errors="replace")
        problems += ["osslsigncode verify of %s shows no '%s'" % (exe, w) for w in (
            "Signature verification: ok", "Text description: Quorvex Lumora 5.1", "Message digest algorithm  : SHA256",
            "URL description: https://localhost:47901/", "Timestamp time:" if stamp else "Timestamp is not available")
            if w not in v]
    if stdout.count(want_how) != len(archs):
        problems.append("not %d times '%s' in: %s" % (len(archs), want_how, stdout))
    check(name, problems)


def refused(name, tables, cert, key, out, names, env=None):
    """A refusal: non-zero exit, one last message line naming the file, out unchanged."""
    before = listing(out)  # also whether out exists at all
    code, stdout, stderr = release(tables, cert, key, out, **(env or {}))
    problems = [] if code != 0 else ["exit 0"]
    lines = [l for l in stderr.splitlines() if l.startswith("release: ")]
    if len(lines) != 1:
        problems.append("%d release: lines in %r" % (len(lines), stderr[-600:]))
    elif names not in lines[0]:
        problems.append("the message %r does not name %s" % (lines[0], names))
    if listing(out) != before:
        problems.append("the output directory changed: %s" % sorted(listing(out)))
    check(name, problems)


def example_tables():
    """The worked example of docs/RELEASING.md compiles and holds what the text says."""
    sys.path.insert(0, os.path.join(REPO, "scripts"))
    import tables
    problems = []
    try:
        config = tables.load(os.path.join(REPO, "docs", "examples", "orbina_tables.cpp"))
    except tables.TablesError as e:
        check("the worked example of RELEASING.md", [str(e)])
        return
    rows = config["packages"]
    if [r["operation"] for r in rows] != ["INSTALL", "MINPATCH"]:
        problems.append("rows %s" % [r["operation"] for r in rows])
    else:
        names = [n for _, _, _, _, n in tables.files(config)]
        if len(names) != 9 or len(set(names)) != 9:
            problems.append("file names %s" % names)
        if [l["langId"] for l in rows[0]["languages"]] != [1031, 1036]:
            problems.append("languages of the product row")
        if rows[1]["expectedVersion"] is not None or any(rows[1]["languages"][0]["packageFiles"]):
            problems.append("the patch row")
        if tables.signing(config) != ("Halvard Orbina 3.2", "https://download.halvard.example/"):
            problems.append("signing attributes %s" % (tables.signing(config),))
    check("the worked example of RELEASING.md", problems)


def main():
    example_tables()
    work = tempfile.mkdtemp(prefix="kavrin-release-tests-")
    tsa = None
    try:
        pki = os.path.join(work, "pki")
        subprocess.run(["bash", os.path.join(REPO, "tests", "wine", "pki.sh"), pki], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
        ca, chain, leaf, key = (os.path.join(pki, f) for f in ("ca.pem", "leaf-chain.pem", "leaf.pem", "leaf.key"))
        secret = os.path.join(pki, "leaf-secret.key")
        subprocess.run(["openssl", "pkey", "-in", key, "-aes256", "-passout", "pass:s3cret word",
                        "-out", secret], check=True, timeout=60)
        # In one place across runs: the release build directory is named after the path.
        stable = os.path.join(REPO, "build", "release-tests")
        os.makedirs(stable, exist_ok=True)
        demo = '#include "vocabulary/setup_config.h"\n' + lumora_download_tables(47901, 200)
        tables, x86_only = os.path.join(stable, "demo_tables.cpp"), os.path.join(stable, "x86_only_tables.cpp")
        bad_tables = os.path.join(work, "broken_tables.cpp")
        for path, text in ((tables, demo), (x86_only, "#ifdef _WIN64\n#error not for x64\n#endif\n" + demo),
                           (bad_tables, '#include "vocabulary/setup_config.h"\n'
                                        'const SetupConfig setupConfig = {u"x", 3};\nint\n')):
            with open(path, "w") as f:
                f.write(text)
        out = os.path.join(work, "out")

        tsa, tsa_url = start_tsa(work)
        if not tsa:
            check("time-stamp server starts", ["it did not"])
        else:
            good_release("demo tables, test certificate, time stamp", tables, chain, key, ca, out,
                         "chain verified up to its root", {"TIMESTAMP_URL": tsa_url}, stamp=True)
        good_release("a chain without its root: digest and signer", tables, leaf, key, ca, out,
                     "digest and signer checked")
        good_release("an encrypted key with KEY_PASS, ARCH=x64 alone", tables, chain, secret, ca,
                     os.path.join(work, "out-x64"), "chain verified up to its root",
                     {"KEY_PASS": "s3cret word", "ARCH": "x64"}, archs=("x64",))

        missing = os.path.join(work, "missing.pem")
        refused("certificate missing", tables, missing, key, out, missing)
        refused("certificate unreadable (a directory)", tables, pki, key, out, pki)
        refused("certificate file without a certificate", tables, key, key, out, key)
        refused("key missing", tables, chain, missing, out, missing)
        refused("key of another certificate", tables, chain, os.path.join(pki, "leaf2.key"), out,
                os.path.join(pki, "leaf2.key"))
        refused("key file without a key", tables, chain, leaf, out, leaf)
        refused("encrypted key without KEY_PASS", tables, chain, secret, out, secret)
        refused("encrypted key with a wrong KEY_PASS", tables, chain, secret, out, secret,
                {"KEY_PASS": "wrong"})
        refused("tables that do not compile", bad_tables, chain, key, out, bad_tables)
        refused("tables missing", missing, chain, key, out, missing)
        refused("tables that build for x86 but not for x64: neither is released", x86_only, chain, key, out,
                x86_only)
        refused("an architecture that is neither x86 nor x64", tables, chain, key, out, "ARCH=arm64",
                {"ARCH": "x86 arm64"})
        refused("time-stamp server unreachable", tables, chain, key, out, "http://127.0.0.1:9/",
                {"TIMESTAMP_URL": "http://127.0.0.1:9/"})
        # A first release into an empty place, failing once it has begun to write there:
        # nothing at all may be left behind, not even the directory.
        fresh = os.path.join(work, "fresh")
        refused("refusal into a new output directory", tables, chain, key, fresh, "http://127.0.0.1:9/",
                {"TIMESTAMP_URL": "http://127.0.0.1:9/"})
    finally:
        if tsa:
            tsa.terminate()
            tsa.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main())
