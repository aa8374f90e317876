#!/usr/bin/env python3
"""Size and speed figures of setup.exe under Wine, side by side with their floors.

  - the size of setup.exe, and of its code and data outside the resources;
  - the install run with the package beside the executable, against a floor program that
    only binds msi.dll and calls MsiInstallProductW on the same package;
  - the install run downloading a 20 MiB package from a local HTTPS server, against the floor
    program making the platform calls of that run: the download into the cache, the trust
    check of the setup's own file and of the package, the install;
  - the time from launch until the progress window is visible, against a floor program that
    shows a dialog at once.

The floors are built for the setup's architecture (tests/wine/bench_floor.c). Each timing is
the median of --runs runs; the product is removed again between runs. The x86 setup needs a
kernel that runs 32-bit x86 code; the x64 setup runs under 64-bit Wine everywhere.

    scripts/bench.py [SETUP_EXE] [--runs N] [--json build/bench.json]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "wine"), os.path.join(ROOT, "tests")]
import harness  # noqa: E402

SIZE_LIMIT = 100 * 1024
RATIO_LIMIT = 1.10


class Bench:
    def __init__(self, setup_exe, runs, work, arch):
        self.runs = runs
        self.work = work
        self.s = harness.Suite(setup_exe, work, keep=False, filt=None, verbose=False, arch=arch)

    def timed(self, cmdline, seen=None, kill_on_window=False):
        """Runs cmdline through launch.exe run; (seconds to its end, seconds to a visible window or
        None). Both are taken from the same polling loop, for the setup and the floors alike."""
        s = self.s
        stem = s.new_tmp("bench")
        with open(stem + ".cmd", "w", encoding="utf-8") as f:
            f.write(cmdline)
        argv = [s.tool("launch.exe"), "run", "--seen", harness.win_path(stem + ".seen")]
        argv += (["--kill-on-window"] if kill_on_window else []) + [harness.win_path(stem + ".cmd"), "300000"]
        t0 = time.perf_counter()
        proc = s.start(["wine"] + argv, s.env())
        first = None
        while proc.poll() is None:
            if first is None and os.path.exists(stem + ".seen"):
                first = time.perf_counter() - t0
            time.sleep(0.002)
        total = time.perf_counter() - t0
        s.finish(proc, 10)
        return total, first

    def prepare(self):
        s = self.s
        s.prepare()
        self.small = harness.lumora_package(s, os.path.join(self.work, "small"))
        self.large = harness.lumora_package(s, os.path.join(self.work, "large"), 20)
        self.local_dir = os.path.join(self.work, "local")
        os.makedirs(self.local_dir)
        shutil.copyfile(s.setup_src, os.path.join(self.local_dir, "setup.exe"))
        shutil.copyfile(self.small, os.path.join(self.local_dir, s.package_file))
        self.port = harness.free_port()
        exe = harness.build_variants({"bench": harness.lumora_download_tables(self.port)}, s.arch)["bench"]
        self.dl_dir = os.path.join(self.work, "download")
        self.serve = os.path.join(self.work, "serve")
        os.makedirs(self.dl_dir)
        os.makedirs(self.serve)
        s.sign("leaf", exe, os.path.join(self.dl_dir, "setup.exe"))
        s.sign("leaf", self.large, os.path.join(self.serve, s.package_file))

    def wipe_cache(self):
        users = os.path.join(self.s.prefix, "drive_c", "users")
        for user in os.listdir(users):
            shutil.rmtree(os.path.join(users, user, "AppData", "Local", "Microsoft", "Windows", "INetCache"),
                          ignore_errors=True)

    def installed_once(self, what):
        if self.s.product_state(harness.LUMORA_PRODUCT_CODE)[0] != 5:
            raise RuntimeError("the %s did not install the package" % what)
        self.s.products("remove", harness.LUMORA_PRODUCT_CODE)

    def measure(self):
        s = self.s
        setup_local = '"%s"' % harness.win_path(os.path.join(self.local_dir, "setup.exe"))
        floor = '"%s" install "%s"' % (self.s.tool("bench_floor.exe"), harness.win_path(self.small))
        local, local_floor, window, window_floor = [], [], [], []
        self.s.products("remove", harness.LUMORA_PRODUCT_CODE)
        for _ in range(self.runs):
            total, first = self.timed(setup_local)
            local.append(total)
            if first is not None:
                window.append(first)
            self.installed_once("install run")
            local_floor.append(self.timed(floor)[0])
            self.installed_once("floor program")
            first = self.timed('"%s" window' % self.s.tool("bench_floor.exe"), kill_on_window=True)[1]
            if first is not None:
                window_floor.append(first)
        with s.https_server({s.package_file: os.path.join(self.serve, s.package_file)}, self.port):
            url = "https://localhost:%d/prenos/?verzija=5.1&paket=%s" % (self.port, s.package_file)
            setup_dl = '"%s"' % harness.win_path(os.path.join(self.dl_dir, "setup.exe"))
            dl, dl_floor = [], []
            for _ in range(self.runs):
                self.wipe_cache()
                dl.append(self.timed(setup_dl)[0])
                self.installed_once("download run")
                self.wipe_cache()
                dl_floor.append(self.timed('"%s" download "%s" "%s"' % (
                    self.s.tool("bench_floor.exe"), url, harness.win_path(os.path.join(self.dl_dir, "setup.exe"))))[0])
                self.installed_once("download floor")
        med = statistics.median
        return {"local": [med(local), med(local_floor)], "download": [med(dl), med(dl_floor)],
                "window": [med(window), med(window_floor)] if window and window_floor else None}

    def close(self):
        self.s.stop_wineserver()
        self.s.stop_xvfb()


def size_figures(exe):
    """File size, the size of everything outside the resources, and each section's size."""
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", exe], stdout=subprocess.PIPE,
                         check=True).stdout.decode()
    sections = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) > 2 and parts[0].isdigit():
            sections[parts[1]] = int(parts[2], 16)
    outside = sum(n for name, n in sections.items() if name != ".rsrc")
    return os.path.getsize(exe), outside, sections


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("setup", nargs="?", help="default: out/setup.exe where 32-bit code runs, else out/x64/setup.exe")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--json", default=os.path.join(ROOT, "build", "bench.json"))
    args = ap.parse_args()
    refused = harness.ia32_refused()
    setup = os.path.abspath(args.setup or os.path.join(ROOT, "out", *(["x64"] if refused else []), "setup.exe"))
    arch = harness.pe_arch(setup)
    result = {"date": time.strftime("%Y-%m-%d"), "setup": setup, "arch": arch, "runs": args.runs}
    rows = []
    # Both builds' sizes; the limit is the x86 setup's, the one a vendor ships by default.
    for build, exe in (("x86", os.path.join(ROOT, "out", "setup.exe")),
                       ("x64", os.path.join(ROOT, "out", "x64", "setup.exe"))):
        if not os.path.exists(exe):
            continue
        size, outside, sections = size_figures(exe)
        result[build] = {"size": size, "outside_resources": outside, "sections": sections}
        rows += [("setup.exe size (%s)" % build, "%d bytes (%.1f KiB)" % (size, size / 1024),
                  "<= 100 KiB" if build == "x86" else "",
                  ("ok" if size <= SIZE_LIMIT else "missed") if build == "x86" else ""),
                 ("  code and data outside resources", "%d bytes (%.1f KiB)" % (outside, outside / 1024), "", "")]
    if arch == "x86" and refused:
        result["timings_skipped"] = refused
        write_json(args.json, result)
        print_rows(rows, "size only")
        print("SKIP timings: %s; the x86 setup cannot run here (bench out/x64/setup.exe instead)" % refused)
        return 0
    if not os.environ.get("KAVRIN_WINE_ROOT"):
        roots = os.path.join(ROOT, "tests", "wine", "roots.sh")
        subprocess.run([roots, "ensure", "bookworm"], check=True)
        os.execv(roots, ["roots.sh", "run", "bookworm", sys.executable, os.path.abspath(__file__), setup,
                         "--runs", str(args.runs), "--json", os.path.abspath(args.json)])
    work = tempfile.mkdtemp(prefix="setup-bench-")
    bench = Bench(setup, args.runs, work, arch)
    try:
        bench.prepare()
        f = bench.measure()
    finally:
        bench.close()
        shutil.rmtree(work, ignore_errors=True)
    result.update(f, wine=os.environ.get("KAVRIN_WINE_VERSION", ""))
    for name, what in (("local", "install, package beside setup.exe"),
                       ("download", "install with a 20 MiB download"),
                       ("window", "launch to progress window visible")):
        if f[name] is None:
            result.setdefault("missed", {})[name] = "no visible window seen"
            rows.append((what, "not seen", "", "missed"))
            continue
        got, floor = f[name]
        ratio = got / floor
        result[name + "_ratio"] = round(ratio, 3)
        rows.append((what, "%.3f s vs floor %.3f s: ratio %.2f" % (got, floor, ratio), "<= %.2f" % RATIO_LIMIT,
                     "ok" if ratio <= RATIO_LIMIT else "missed"))
    write_json(args.json, result)
    print_rows(rows, "medians of %d runs (Wine %s %s, Xvfb, 127.0.0.1)"
               % (args.runs, os.environ.get("KAVRIN_WINE_VERSION", "?"), arch))
    print("figures: %s" % args.json)
    return 0


def print_rows(rows, heading):
    print("\n" + heading)
    for name, value, target, verdict in rows:
        print("%-36s %-52s %-10s %s" % (name, value, target, verdict))


def write_json(path, result):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".tmp", "w") as f:
        json.dump(result, f, indent=1, sort_keys=True)
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    sys.exit(main())
