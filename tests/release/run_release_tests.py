#!/usr/bin/env python3
"""Tests of `make release`: the demo's tables built for x86 and x64, signed with a test certificate and a
time stamp from a local time-stamp server (tsa_server.py), a chain without its root, an encrypted key (x64
alone), and each refusal of REFUSALS, after which the output directory must hold exactly what it held
before. Ends with "release: N passed, M failed, 0 skipped"."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(REPO, "tests"), os.path.join(REPO, "scripts")]
import tables  # noqa: E402  (the release tools' reader of tables sources)
import tsa_server  # noqa: E402
from harness import HEADER, Report, lumora_download_tables, pe_arch  # noqa: E402  (the demo's tables)

OUT_FILES = {"x86": "setup.exe", "x64": os.path.join("x64", "setup.exe")}
REPORT = Report("release")
DEAD = "http://127.0.0.1:9/"        # no time-stamp server there
# Refusals: (case, tables, certificate, key, what the one message names, environment), by the names of
# the files main() makes; a name that is none of them stands for itself.
REFUSALS = [
    ("certificate missing", "demo", "missing", "key", "missing", {}),
    ("certificate unreadable (a directory)", "demo", "pki", "key", "pki", {}),
    ("certificate file without a certificate", "demo", "key", "key", "key", {}),
    ("key missing", "demo", "chain", "missing", "missing", {}),
    ("key of another certificate", "demo", "chain", "key2", "key2", {}),
    ("key file without a key", "demo", "chain", "leaf", "leaf", {}),
    ("encrypted key without KEY_PASS", "demo", "chain", "secret", "secret", {}),
    ("encrypted key with a wrong KEY_PASS", "demo", "chain", "secret", "secret", {"KEY_PASS": "wrong"}),
    ("tables that do not compile", "broken", "chain", "key", "broken", {}),
    ("tables missing", "missing", "chain", "key", "missing", {}),
    ("tables that build for x86 but not for x64: neither is released", "x86_only", "chain", "key", "x86_only",
     {}),
    ("an architecture that is neither x86 nor x64", "demo", "chain", "key", "ARCH=arm64",
     {"ARCH": "x86 arm64"}),
    ("time-stamp server unreachable", "demo", "chain", "key", DEAD, {"TIMESTAMP_URL": DEAD}),
]


def release(tables_file, cert, key, out, env):
    """make release, without the caller's KEY_PASS, TIMESTAMP_URL and ARCH: (exit, stdout, stderr)."""
    e = dict({k: v for k, v in os.environ.items() if k not in ("KEY_PASS", "TIMESTAMP_URL", "ARCH")},
             OUT=out, **env)
    p = subprocess.run(["make", "--no-print-directory", "-C", REPO, "release", "TABLES=" + tables_file,
                        "CERT=" + cert, "KEY=" + key], env=e, capture_output=True, stdin=subprocess.DEVNULL,
                       text=True, errors="replace", timeout=900)
    return p.returncode, p.stdout, p.stderr


def listing(d):
    """{relative path: content, None for a folder} of d itself (".") and of everything under it."""
    found = {".": None} if os.path.isdir(d) else {}
    for path, dirs, files in os.walk(d):
        found.update({os.path.relpath(os.path.join(path, n), d): None if n in dirs else
                      open(os.path.join(path, n), "rb").read() for n in dirs + files})
    return found


def good(tables_file, cert, key, ca, out, want_how, env, stamp=False, archs=("x86", "x64")):
    """Each architecture's setup.exe (and nothing else) in out, of that architecture, signed and verified."""
    code, stdout, stderr = release(tables_file, cert, key, out, env)
    if code != 0:
        return ["exit %d: %s" % (code, stderr.strip()[-500:])]
    want = {".", *(["x64"] if "x64" in archs else []), *(OUT_FILES[a] for a in archs)}
    problems = [] if set(listing(out)) == want else ["out holds %s" % sorted(listing(out))]
    for arch in archs:
        exe = os.path.join(out, OUT_FILES[arch])
        data = open(exe, "rb").read() if os.path.isfile(exe) else b""
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", exe], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace", timeout=60).stdout
        problems += [why for bad, why in [
            (not data or pe_arch(exe) != arch, "%s is not an %s setup" % (exe, arch)),
            ("release: %s\n" % exe not in stdout or "size         %d bytes" % len(data) not in stdout,
             "no report of %s with its size of %d bytes" % (exe, len(data))),
            ("SHA-256      %s" % hashlib.sha256(data).hexdigest() not in stdout,
             "no SHA-256 line with the digest of %s" % exe)] if bad]
        problems += ["osslsigncode verify of %s shows no '%s'" % (exe, w) for w in (
            "Signature verification: ok", "Text description: Quorvex Lumora 5.1",
            "Message digest algorithm  : SHA256", "URL description: https://localhost:47901/",
            "Timestamp time:" if stamp else "Timestamp is not available") if w not in verify]
    if stdout.count(want_how) != len(archs):
        problems.append("not %d times '%s' in: %s" % (len(archs), want_how, stdout))
    return problems


def refused(tables_file, cert, key, names, env, out):
    """A refusal: non-zero exit, one last message line naming the file, out unchanged."""
    before = listing(out)  # also whether out exists at all
    code, _, stderr = release(tables_file, cert, key, out, env)
    lines = [line for line in stderr.splitlines() if line.startswith("release: ")]
    return [why for bad, why in [
        (code == 0, "exit 0"),
        (len(lines) != 1, "%d release: lines in %r" % (len(lines), stderr[-600:])),
        (len(lines) == 1 and names not in lines[0],
         "the message %r does not name %s" % ("".join(lines[:1]), names)),
        (listing(out) != before, "the output directory changed: %s" % sorted(listing(out)))] if bad]


def example_tables():
    """The worked example of docs/RELEASING.md compiles and holds what the text says."""
    config = tables.load(os.path.join(REPO, "docs", "examples", "orbina_tables.cpp"))
    rows = config["packages"]
    if [r["operation"] for r in rows] != ["INSTALL", "MINPATCH"]:
        return ["rows %s" % [r["operation"] for r in rows]]
    names = [n for _, _, _, _, n in tables.files(config)]
    return [why for bad, why in [
        (len(names) != 9 or len(set(names)) != 9, "file names %s" % names),
        ([lang["langId"] for lang in rows[0]["languages"]] != [1031, 1036], "languages of the product row"),
        (rows[1]["expectedVersion"] is not None or any(rows[1]["languages"][0]["packageFiles"]),
         "the patch row"),
        (tables.signing(config) != ("Halvard Orbina 3.2", "https://download.halvard.example/"),
         "signing attributes %s" % (tables.signing(config),))] if bad]


def main():
    REPORT.case("the worked example of RELEASING.md", example_tables)
    work = tempfile.mkdtemp(prefix="kavrin-release-tests-")
    try:
        pki = os.path.join(work, "pki")
        subprocess.run(["bash", os.path.join(REPO, "tests", "wine", "pki.sh"), pki], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
        f = {name: os.path.join(pki, base) for name, base in (
            ("ca", "ca.pem"), ("chain", "leaf-chain.pem"), ("leaf", "leaf.pem"), ("key", "leaf.key"),
            ("key2", "leaf2.key"), ("secret", "leaf-secret.key"))}
        f.update(pki=pki, missing=os.path.join(work, "missing.pem"), out=os.path.join(work, "out"))
        subprocess.run(["openssl", "pkey", "-in", f["key"], "-aes256", "-passout", "pass:s3cret word",
                        "-out", f["secret"]], check=True, timeout=60)
        # In one place across runs: the release build directory is named after the path.
        stable = os.path.join(REPO, "build", "release-tests")
        os.makedirs(stable, exist_ok=True)
        demo = HEADER + lumora_download_tables(47901, 200)
        broken = HEADER + 'const SetupConfig setupConfig = {u"x", 3};\nint\n'
        for name, where, text in (("demo", stable, demo), ("broken", work, broken),
                                  ("x86_only", stable, "#ifdef _WIN64\n#error not for x64\n#endif\n" + demo)):
            f[name] = os.path.join(where, name + "_tables.cpp")
            Path(f[name]).write_text(text)
        # The time-stamp server starts inside its case: when it cannot, that case fails.
        REPORT.case("demo tables, test certificate, time stamp", lambda: good(
            f["demo"], f["chain"], f["key"], f["ca"], f["out"], "chain verified up to its root",
            {"TIMESTAMP_URL": tsa_server.serve(os.path.join(work, "tsa"))}, True))
        REPORT.case("a chain without its root: digest and signer", good, f["demo"], f["leaf"], f["key"],
                    f["ca"], f["out"], "digest and signer checked", {})
        REPORT.case("an encrypted key with KEY_PASS, ARCH=x64 alone", good, f["demo"], f["chain"],
                    f["secret"], f["ca"], os.path.join(work, "out-x64"), "chain verified up to its root",
                    {"KEY_PASS": "s3cret word", "ARCH": "x64"}, False, ("x64",))
        for name, *row in REFUSALS:
            REPORT.case(name, refused, *(f.get(n, n) for n in row[:4]), row[4], f["out"])
        # A first release into an empty place, failing once it has begun to write there: nothing at
        # all may be left behind, not even the directory.
        REPORT.case("refusal into a new output directory", refused, f["demo"], f["chain"], f["key"], DEAD,
                    {"TIMESTAMP_URL": DEAD}, os.path.join(work, "fresh"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return REPORT.closing()


if __name__ == "__main__":
    sys.exit(main())
