#!/usr/bin/python3
"""Times palomet-import on compressed and archived workloads beside the plain ones.

    bench/packed.py PALOMET-IMPORT DATA [--reps N] [--formats gz,xz,bz2,zst]
                    [--baseline OTHER-PALOMET-IMPORT] [--work DIR]

DATA is a folder written by bench/gen.py (flat.xml, many/). The packed copies are
made once into --work (default DATA/packed/): flat.xml as flat.xml.gz (gzip -6, as
exports are shipped) and the other formats asked for, and many/ as many.zip and
many.tar.gz. Then, round after round, each input is imported in both sheet modes,
the plain one and its packed copies in turn, so that the ratios compare runs taken
under the same load. Prints per input the median wall time, CPU time (user +
system), peak memory, the ratio of the medians to the plain input, and the best
wall time with its ratio to the plain input's best. --inputs keeps a few. With
--baseline, another build imports the plain inputs in the same rounds (to see what
reading every file through libarchive costs a plain file).
Standard library only, plus the compressors' programs for xz, bzip2 and zstd.
"""
import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import tarfile
import tempfile
import time
import zipfile

FORMATS = {"gz": None, "xz": ["xz", "-6", "-T1", "-c"], "bz2": ["bzip2", "-9", "-c"],
           "zst": ["zstd", "-3", "-q", "-c"]}


def run_measured(cmd):
    """Runs cmd; returns (wall seconds, CPU seconds, peak RSS in MB, exit code)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, \
        os.waitstatus_to_exitcode(status)


def pack(data, work, formats):
    """Makes the packed copies that are missing; returns {name: path} of every input."""
    os.makedirs(work, exist_ok=True)
    flat = os.path.join(data, "flat.xml")
    many = os.path.join(data, "many")
    inputs = {"flat.xml": flat, "many/": many}
    for fmt in formats:
        target = os.path.join(work, "flat.xml." + fmt)
        if not os.path.exists(target):
            print(f"making {target}", flush=True)
            if fmt == "gz":
                with open(flat, "rb") as src, gzip.open(target + ".tmp", "wb", 6) as dst:
                    shutil.copyfileobj(src, dst, 1 << 20)
            else:
                with open(target + ".tmp", "wb") as dst:
                    subprocess.run(FORMATS[fmt] + [flat], stdout=dst, check=True)
            os.rename(target + ".tmp", target)
        inputs["flat.xml." + fmt] = target
    parts = sorted(os.listdir(many))
    zipped = os.path.join(work, "many.zip")
    if not os.path.exists(zipped):
        with zipfile.ZipFile(zipped + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
            for p in parts:
                z.write(os.path.join(many, p), "many/" + p)
        os.rename(zipped + ".tmp", zipped)
    tgz = os.path.join(work, "many.tar.gz")
    if not os.path.exists(tgz):
        with tarfile.open(tgz + ".tmp", "w:gz") as t:
            for p in parts:
                t.add(os.path.join(many, p), "many/" + p)
        os.rename(tgz + ".tmp", tgz)
    inputs["many.zip"] = zipped
    inputs["many.tar.gz"] = tgz
    return inputs


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("program")
    ap.add_argument("data")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--formats", default="gz")
    ap.add_argument("--baseline")
    ap.add_argument("--work")
    ap.add_argument("--inputs", help="only these inputs, e.g. flat.xml,flat.xml.gz")
    a = ap.parse_args()
    formats = [f for f in a.formats.split(",") if f]
    inputs = pack(a.data, a.work or os.path.join(a.data, "packed"), formats)
    chosen = a.inputs.split(",") if a.inputs else list(inputs)
    runs = [(name, a.program, inputs[name]) for name in chosen]
    if a.baseline:
        runs += [("baseline " + name, a.baseline, inputs[name])
                 for name in ("flat.xml", "many/") if name in chosen]
    figures = {}
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xlsx")
        for rep in range(a.reps):
            for mode in ("one", "multiple"):
                flags = ["-q"] + (["--multiple-sheets"] if mode == "multiple" else [])
                for name, program, path in runs:
                    wall, cpu, peak, code = run_measured([program] + flags + ["-o", out, path])
                    if code != 0:
                        raise SystemExit(f"{name} failed with status {code}")
                    figures.setdefault((name, mode), []).append((wall, cpu, peak))
            print(f"round {rep + 1} of {a.reps} done", flush=True)
    print(f"\n{'input':24} {'mode':9} {'wall s':>7} {'cpu s':>7} {'peak MB':>8} "
          f"{'wall ratio':>10} {'cpu ratio':>9} {'best wall':>9} {'best ratio':>10}")
    for mode in ("one", "multiple"):
        for name, _, _ in runs:
            rows = figures[(name, mode)]
            wall = statistics.median(r[0] for r in rows)
            cpu = statistics.median(r[1] for r in rows)
            peak = max(r[2] for r in rows)
            plain = "many/" if "many" in name else "flat.xml"
            base = figures[(plain, mode)]
            ratio = wall / statistics.median(r[0] for r in base)
            cpu_ratio = cpu / statistics.median(r[1] for r in base)
            best = min(r[0] for r in rows)
            print(f"{name:24} {mode:9} {wall:7.2f} {cpu:7.2f} {peak:8.1f} {ratio:10.2f} "
                  f"{cpu_ratio:9.2f} {best:9.2f} {best / min(r[0] for r in base):10.2f}")


if __name__ == "__main__":
    main()
