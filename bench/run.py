#!/usr/bin/python3
"""Times palomet-import against the reference pipeline, side by side in one run.

    bench/run.py [--build DIR] [--no-build] [--quick] [--reps N] [--scale S]
                 [--only w1,w2,w3] [--no-layers] [--memory]

Builds the programs it times in DIR (default build/; configured first if it is not
a build folder yet), generates the workloads (flat W1, many files W2, nested W3)
with bench/gen.py into bench/data/ (kept out of git), then for each workload runs, in
turn and repeated, the reference pipeline (a sheet per table), the one-sheet floor (the
same cells onto one sheet) and palomet-import in both sheet modes. Prints median wall
time, peak memory (max RSS of the child), MB/s of XML and the ratio to the reference and
to the floor. Then, for palomet-import, the time of each stage
(PALOMET_STAGE_TIMES=1), the window's run on W1 beside the command line's
(bench_importrun), and the layer benchmarks' figures as they report them.
--memory adds the memory checks: W1 at scale 0.3 and 3 (peak memory must stay
flat) and at scale 4 (its table passes the sheet's last row: the run must fail
naming table and row and leave no output).
"""
import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)


def run_measured(cmd, env=None):
    """Runs cmd; returns (wall seconds, peak RSS in MB, exit code, stderr)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_maxrss / 1024.0, code, err


def generate(gen, datadir, scale, only):
    manifest = os.path.join(datadir, "manifest.json")
    if os.path.exists(manifest):
        with open(manifest) as fh:
            have = json.load(fh)
        if all(w in have and have[w].get("scale") == scale for w in only):
            return have
        shutil.rmtree(datadir)
    os.makedirs(datadir, exist_ok=True)
    command = [sys.executable, gen, datadir, "--scale", str(scale), "--only", ",".join(only)]
    if subprocess.run(command, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit(f"making the workloads failed (see above): {shlex.join(command)}")
    with open(manifest) as fh:
        return json.load(fh)


def inputs_for(workload, datadir):
    if workload == "w1":
        return [os.path.join(datadir, "flat.xml")]
    if workload == "w2":
        return [os.path.join(datadir, "many")]
    return [os.path.join(datadir, "nested.xml")]


# The layer benchmarks, each printing its own figures.
LAYER_TARGETS = ["bench_importrun", "bench_staging", "workbook_bench"]


def build_steps(build, targets):
    """The commands that build targets in build, configuring it first when it is not
    a CMake build folder yet."""
    steps = [["cmake", "--build", build, "-j", str(os.cpu_count() or 2), "--target"] + targets]
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        configure = ["cmake", "-S", TOP, "-B", build, "-DBUILD_TESTING=OFF"]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        steps.insert(0, configure)
    return steps


def build_targets(build, targets):
    """Builds targets in build, so that the figures are those of the sources as they are."""
    steps = build_steps(build, targets)
    if not shutil.which("cmake"):
        sys.exit("cmake is missing: ./scripts/setup.sh build installs what the build needs; "
                 "then run this again")
    for step in steps:
        # The build's own output goes to stderr, so that stdout holds the figures alone.
        print("$ " + shlex.join(step), file=sys.stderr, flush=True)
        if subprocess.run(step, stdout=sys.stderr).returncode != 0:
            sys.exit(f"the build failed (see above): {shlex.join(step)}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(TOP, "build"),
                    help="CMake build folder of the programs (default build/)")
    ap.add_argument("--no-build", action="store_true",
                    help="time the programs in --build as they are, without building them")
    ap.add_argument("--gen", default=os.path.join(HERE, "gen.py"),
                    help="workload generator (default bench/gen.py)")
    ap.add_argument("--quick", action="store_true", help="small scale, one repetition per layer benchmark")
    ap.add_argument("--reps", type=int, default=None)
    ap.add_argument("--scale", type=float, default=None)
    ap.add_argument("--only", default="w1,w2,w3")
    ap.add_argument("--baseline", help="another palomet-import (e.g. built before a change) timed alongside")
    ap.add_argument("--no-table", action="store_true", help="leave out the timing table")
    ap.add_argument("--no-stages", action="store_true", help="leave out the stage times")
    ap.add_argument("--no-layers", action="store_true", help="leave out the layer benchmarks")
    ap.add_argument("--memory", action="store_true", help="add the memory checks (W1 at scale 0.3, 3, 4)")
    a = ap.parse_args()

    scale = a.scale if a.scale is not None else (0.05 if a.quick else 1.0)
    reps = a.reps if a.reps is not None else (3 if a.quick else 5)
    only = a.only.split(",")
    a.build = os.path.abspath(a.build)
    targets = ["palomet-import", "palomet-reference"]
    if not a.no_layers:
        targets += LAYER_TARGETS
    if not a.no_build:
        build_targets(a.build, targets)

    palomet = os.path.join(a.build, "bin", "palomet-import")
    reference = os.path.join(a.build, "bench", "palomet-reference")
    for exe in (palomet, reference):
        if not os.access(exe, os.X_OK):
            sys.exit(f"missing {exe}: build it with "
                     + " && ".join(shlex.join(step) for step in build_steps(a.build, targets)))

    datadir = os.path.join(HERE, "data", f"scale-{scale:g}")
    manifest = generate(a.gen, datadir, scale, only)

    contenders = [
        ("reference", lambda out, ins: [reference, "--output", out] + ins),
        # The same cells onto one sheet: the floor without libxlsxwriter's cost of a sheet
        # per table, which many small files turn into thousands of sheets.
        ("floor (one sheet)", lambda out, ins: [reference, "--one-sheet", "--output", out] + ins),
        ("palomet one sheet", lambda out, ins: [palomet, "--quiet", "--output", out] + ins),
        ("palomet multiple sheets",
         lambda out, ins: [palomet, "--quiet", "--multiple-sheets", "--output", out] + ins),
    ]
    if a.baseline:
        contenders += [
            ("baseline one sheet", lambda out, ins: [a.baseline, "--quiet", "--output", out] + ins),
            ("baseline multiple sheets",
             lambda out, ins: [a.baseline, "--quiet", "--multiple-sheets", "--output", out] + ins),
        ]
    if not a.no_table:
        time_table(contenders, manifest, datadir, only, reps)
    if not a.no_stages:
        stage_times(palomet, datadir, only)
    if not a.no_layers:
        layer_benches(a, datadir, only)
    if a.memory:
        memory_checks(a, palomet)


def time_table(contenders, manifest, datadir, only, reps):
    scale = manifest[only[0]]["scale"]
    print(f"scale {scale:g}, {reps} repetitions, median wall time; peak memory is the largest seen")
    print("ratio: to the reference (a sheet per table); / floor: to the one-sheet floor")
    print(f"{'workload':9} {'program':25} {'MB':>8} {'seconds':>9} {'MB/s':>8} {'peak MB':>9} "
          f"{'ratio':>7} {'/ floor':>7}")
    with tempfile.TemporaryDirectory(prefix="palomet-bench-") as tmp:
        for w in only:
            ins = inputs_for(w, datadir)
            mb = manifest[w]["bytes"] / 1e6
            times = {name: [] for name, _ in contenders}
            peaks = {name: 0.0 for name, _ in contenders}
            for _ in range(reps):
                # Interleave the contenders so that load on the machine hits them alike.
                for name, make in contenders:
                    out = os.path.join(tmp, "out.xlsx")
                    wall, peak, code, err = run_measured(make(out, ins))
                    if code != 0:
                        sys.exit(f"{name} failed on {w} (exit {code}): {err.strip()}")
                    times[name].append(wall)
                    peaks[name] = max(peaks[name], peak)
                    os.remove(out)
            ref = statistics.median(times["reference"])
            floor = statistics.median(times["floor (one sheet)"])
            for name, _ in contenders:
                t = statistics.median(times[name])
                print(f"{w:9} {name:25} {mb:8.1f} {t:9.2f} {mb / t:8.1f} {peaks[name]:9.1f} "
                      f"{t / ref:7.2f} {t / floor:7.2f}")
            sys.stdout.flush()


def stage_times(palomet, datadir, only):
    """Where each stage's time goes, one run per workload and sheet mode."""
    print("\n== palomet-import stage times (one run each; 'staging inserts (2nd thread)' "
          "overlaps the staging rows)")
    env = dict(os.environ, PALOMET_STAGE_TIMES="1")
    with tempfile.TemporaryDirectory(prefix="palomet-bench-") as tmp:
        for w in only:
            for mode, extra in (("one sheet", []), ("multiple sheets", ["--multiple-sheets"])):
                out = os.path.join(tmp, "out.xlsx")
                wall, peak, code, err = run_measured(
                    [palomet, "--quiet"] + extra + ["--output", out] + inputs_for(w, datadir), env)
                print(f"-- {w} {mode}: {wall:.2f} s, peak {peak:.1f} MB")
                for line in err.splitlines():
                    if line.startswith("stage "):
                        print("   " + line[6:])
                sys.stdout.flush()


def scale_of(datadir):
    with open(os.path.join(datadir, "manifest.json")) as fh:
        have = json.load(fh)
    return next(iter(have.values()))["scale"]


def layer_benches(a, datadir, only):
    bench = os.path.join(a.build, "bench")
    w1 = inputs_for("w1", datadir)
    files = [inputs_for(w, datadir)[0] for w in only if w != "w2"]
    runs = [
        ("window's run beside the command line (W1)", "bench_importrun",
         ["--repeat", "1" if a.quick else "3"] + w1),
        ("staging: import beside a bare parse", "bench_staging",
         ["--runs", "1" if a.quick else "3"] + files),
        ("workbook engine beside libxlsxwriter (W1)", "workbook_bench",
         ["compare"] + w1 + ["1" if a.quick else "3"]),
    ]
    if "w2" in only:
        # W2 in multiple-sheets mode is a workbook of thousands of small sheets: libxlsxwriter
        # holds state per sheet until the file is done; the engine's own writer holds none.
        sheets = max(1, int(round(4000 * scale_of(datadir))))
        runs.append(("memory of many small sheets, libxlsxwriter alone beside the engine",
                     "workbook_bench", ["sheets", str(sheets), "30"]))
    for title, exe, args in runs:
        path = next((p for p in (os.path.join(bench, exe), os.path.join(a.build, "bin", exe))
                     if os.access(p, os.X_OK)), os.path.join(bench, exe))
        print(f"\n== {title}: {exe} {' '.join(os.path.relpath(x) if os.path.exists(x) else x for x in args)}")
        sys.stdout.flush()
        if not os.access(path, os.X_OK):
            print(f"   (missing {path})")
            continue
        subprocess.run([path] + args, check=False)
        sys.stdout.flush()


def memory_checks(a, palomet):
    print("\n== memory: palomet-import --multiple-sheets on W1 at three scales")
    peaks = {}
    with tempfile.TemporaryDirectory(prefix="palomet-bench-") as tmp:
        for scale in (0.3, 3.0, 4.0):
            datadir = os.path.join(HERE, "data", f"scale-{scale:g}")
            generate(a.gen, datadir, scale, ["w1"])
            out = os.path.join(tmp, "out.xlsx")
            wall, peak, code, err = run_measured(
                [palomet, "--quiet", "--multiple-sheets", "--output", out] + inputs_for("w1", datadir))
            sys.stdout.flush()
            peaks[scale] = peak
            left = os.path.exists(out)
            print(f"W1 scale {scale:g}: exit {code}, {wall:.1f} s, peak {peak:.1f} MB, "
                  f"output {'written' if left else 'none'}")
            if code != 0:
                print("   " + err.strip().replace("\n", "\n   "))
            if left:
                os.remove(out)
            # The largest files are only needed for this check.
            if scale >= 3:
                shutil.rmtree(datadir, ignore_errors=True)
    print(f"peak at scale 3 minus scale 0.3: {peaks[3.0] - peaks[0.3]:.1f} MB (target < 32 MB); "
          f"largest {max(peaks.values()):.1f} MB (target < 64 MB)")

if __name__ == "__main__":
    main()
