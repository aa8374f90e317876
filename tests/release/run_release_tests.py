#!/usr/bin/env python3
"""Tests of `make release`: the demo's tables signed with a test certificate and a
time stamp from a local time-stamp server, a chain without its root, an encrypted key, and
each refusal (missing, unreadable or mismatched certificate or key, a wrong pass phrase,
tables that do not compile, an unreachable time-stamp server), after which the output
directory must hold exactly what it held before.

Ends with "release: N passed, M failed"."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))
import cases_download  # noqa: E402  (the demo's tables)

results = []


def check(name, problems):
    results.append(not problems)
    print(("PASS %s" % name) if not problems else ("FAIL %s: %s" % (name, "; ".join(problems))))
    sys.stdout.flush()


def release(tables, cert, key, out, **env):
    e = dict(os.environ, OUT=out)
    for k in ("KEY_PASS", "TIMESTAMP_URL"):
        e.pop(k, None)
    e.update(env)
    proc = subprocess.run(["make", "--no-print-directory", "-C", REPO, "release", "TABLES=" + tables,
                           "CERT=" + cert, "KEY=" + key], env=e, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=900)
    return proc.returncode, proc.stdout.decode(errors="replace"), proc.stderr.decode(errors="replace")


def verify(path, ca):
    proc = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    return proc.returncode, proc.stdout.decode(errors="replace")


def listing(d):
    return {f: open(os.path.join(d, f), "rb").read() for f in sorted(os.listdir(d))} if os.path.isdir(d) else {}


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


def good_release(name, tables, cert, key, ca, out, want_how, env=None, stamp=False):
    code, stdout, stderr = release(tables, cert, key, out, **(env or {}))
    problems = []
    exe = os.path.join(out, "setup.exe")
    if code != 0:
        check(name, ["exit %d: %s" % (code, stderr.strip()[-500:])])
        return
    if sorted(os.listdir(out)) != ["setup.exe"]:
        problems.append("out holds %s" % sorted(os.listdir(out)))
    data = open(exe, "rb").read()
    if "size         %d bytes" % len(data) not in stdout:
        problems.append("no size line of %d bytes" % len(data))
    if "SHA-256      %s" % hashlib.sha256(data).hexdigest() not in stdout:
        problems.append("no SHA-256 line with the file's digest")
    if want_how not in stdout:
        problems.append("no '%s' in: %s" % (want_how, stdout))
    vcode, vout = verify(exe, ca)
    if vcode != 0:
        problems.append("osslsigncode verify failed: %s" % vout[-400:])
    for want in ("Text description: Quorvex Lumora 5.1", "URL description: https://localhost:47901/",
                 "Message digest algorithm  : SHA256"):
        if want not in vout:
            problems.append("the signature has no '%s'" % want)
    if stamp and "Timestamp time:" not in vout:
        problems.append("the signature has no time stamp")
    if not stamp and "Timestamp is not available" not in vout:
        problems.append("the signature has a time stamp nobody asked for")
    check(name, problems)


def refused(name, tables, cert, key, out, names, env=None):
    """A refusal: non-zero exit, one last message line naming the file, out unchanged."""
    before = listing(out)
    code, stdout, stderr = release(tables, cert, key, out, **(env or {}))
    problems = []
    if code == 0:
        problems.append("exit 0")
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
        tables = os.path.join(stable, "demo_tables.cpp")
        with open(tables, "w") as f:
            f.write('#include "vocabulary/setup_config.h"\n' + cases_download.tables(47901, 200))
        bad_tables = os.path.join(work, "broken_tables.cpp")
        with open(bad_tables, "w") as f:
            f.write('#include "vocabulary/setup_config.h"\nconst SetupConfig setupConfig = {u"x", 3};\nint\n')
        out = os.path.join(work, "out")

        tsa, tsa_url = start_tsa(work)
        if not tsa:
            check("time-stamp server starts", ["it did not"])
        else:
            good_release("demo tables, test certificate, time stamp", tables, chain, key, ca, out,
                         "chain verified up to its root", {"TIMESTAMP_URL": tsa_url}, stamp=True)
        good_release("a chain without its root: digest and signer", tables, leaf, key, ca, out,
                     "digest and signer checked")
        good_release("an encrypted key with KEY_PASS", tables, chain, secret, ca, out,
                     "chain verified up to its root", {"KEY_PASS": "s3cret word"})

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
        refused("time-stamp server unreachable", tables, chain, key, out, "http://127.0.0.1:9/",
                {"TIMESTAMP_URL": "http://127.0.0.1:9/"})
        # A first release into an empty place: nothing at all may be left behind.
        fresh = os.path.join(work, "fresh")
        refused("refusal into a new output directory", bad_tables, chain, key, fresh, bad_tables)
    finally:
        if tsa:
            tsa.terminate()
            tsa.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
    passed = sum(results)
    print("release: %d passed, %d failed" % (passed, len(results) - passed))
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
