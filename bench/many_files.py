#!/usr/bin/python3
"""How a run's cost grows with its number of files: W2 (a file per export) at several scales.

    bench/many_files.py [--program P] [--baseline B] [--scales 1,5,25] [--reps N]
                        [--modes one,multiple] [--combine] [--data DIR]

Writes W2 with bench/gen.py at each scale (2,000 files at scale 1; kept in DIR, default
bench/data/, between runs), then times palomet-import (default build/bin/palomet-import) on
each scale in each sheet mode, repeated; with --baseline, a second palomet-import (say,
built before a change) runs in turn with it, repetition by repetition, so that both meet the
same load. Prints per scale and mode the median wall time, peak memory (max RSS), the time
per file and the ratio to scale 1; then, once per scale, where the staging of a file goes
(PALOMET_STAGE_TIMES=1, one sheet). --baseline-scales limits the baseline to some scales
(a run that grows with the square of its files takes long at scale 25).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from run import run_measured  # noqa: E402


def data_for(datadir, scale):
    folder = os.path.join(datadir, f"w2-scale-{scale:g}")
    many = os.path.join(folder, "many")
    manifest = os.path.join(folder, "manifest.json")
    if not os.path.exists(manifest):
        command = [sys.executable, os.path.join(HERE, "gen.py"), folder, "--scale", f"{scale:g}",
                   "--only", "w2"]
        print(f"writing W2 at scale {scale:g} into {folder}", file=sys.stderr, flush=True)
        if subprocess.run(command, stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit("making the workload failed")
    return many, len(os.listdir(many))


def sheets_in(xlsx):
    with zipfile.ZipFile(xlsx) as z:
        return sum(1 for n in z.namelist() if n.startswith("xl/worksheets/sheet"))


def command(program, mode, combine, many, out):
    cmd = [program, "-q", "-o", out]
    if mode == "multiple":
        cmd.append("--multiple-sheets")
    if combine:
        cmd.append("--combine")
    return cmd + [many]


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--program", default=os.path.join(TOP, "build", "bin", "palomet-import"))
    ap.add_argument("--baseline", help="another palomet-import, timed in turn with --program")
    ap.add_argument("--baseline-scales", help="scales at which the baseline runs (default all)")
    ap.add_argument("--scales", default="1,5,25")
    ap.add_argument("--modes", default="one,multiple")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--combine", action="store_true", help="pass --combine to --program")
    ap.add_argument("--data", default=os.path.join(HERE, "data"))
    a = ap.parse_args()

    scales = [float(s) for s in a.scales.split(",")]
    modes = a.modes.split(",")
    base_scales = [float(s) for s in a.baseline_scales.split(",")] if a.baseline_scales else scales
    contenders = [("now" + (" --combine" if a.combine else ""), a.program, a.combine)]
    if a.baseline:
        contenders.append(("baseline", a.baseline, False))

    results = {}  # (name, scale, mode) -> (median s, peak MB)
    sheets = {}  # (name, scale, mode) -> sheets in the workbook
    files_at = {}
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xlsx")
        for scale in scales:
            many, files = data_for(a.data, scale)
            files_at[scale] = files
            for mode in modes:
                runs = {name: [] for name, _, _ in contenders}
                for _ in range(a.reps):
                    for name, program, combine in contenders:
                        if name == "baseline" and scale not in base_scales:
                            continue
                        wall, mb, code, err = run_measured(command(program, mode, combine, many, out))
                        if code != 0:
                            sys.exit(f"{program} failed ({code}): {err.strip()[-500:]}")
                        runs[name].append((wall, mb))
                        sheets[(name, scale, mode)] = sheets_in(out)
                for name, got in runs.items():
                    if got:
                        results[(name, scale, mode)] = (statistics.median(w for w, _ in got),
                                                        max(m for _, m in got))
                print(f"scale {scale:g} {mode}: done", file=sys.stderr, flush=True)

        print(f"W2, median of {a.reps}, peak memory of the child process\n")
        print("| program | scale | files | mode | sheets | seconds | MB | ms a file | / scale 1 |")
        print("|---|---|---|---|---|---|---|---|---|")
        for name, _, _ in contenders:
            for mode in modes:
                first = results.get((name, scales[0], mode))
                for scale in scales:
                    r = results.get((name, scale, mode))
                    if not r:
                        continue
                    ratio = f"{r[0] / first[0]:.2f}" if first else ""
                    print(f"| {name} | {scale:g} | {files_at[scale]:,} | {mode} | "
                          f"{sheets[(name, scale, mode)]:,} | {r[0]:.2f} | "
                          f"{r[1]:.1f} | {1000 * r[0] / files_at[scale]:.3f} | {ratio} |")

        print("\nWhere the time goes (PALOMET_STAGE_TIMES=1, one sheet, ms a file):\n")
        env = dict(os.environ, PALOMET_STAGE_TIMES="1")
        for scale in scales:
            many, files = data_for(a.data, scale)
            _, _, code, err = run_measured(command(a.program, "one", a.combine, many, out), env)
            stages = re.findall(r"^stage (.+?):\s+([0-9.]+) s$", err, re.M)
            print(f"scale {scale:g} ({files:,} files): " + ", ".join(
                f"{name} {1000 * float(sec) / files:.3f}" for name, sec in stages))


if __name__ == "__main__":
    main()
