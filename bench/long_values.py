#!/usr/bin/env python3
"""Peak memory of palomet-import on files of long values, the same bytes on every run.

    bench/long_values.py OUTDIR [--program EXE] [--baseline EXE] [--reps N]

Writes into OUTDIR (kept when there already):
  fits.xml   2,500 records of one 32,000-character value each (80 MB): every value fits a cell
  long.xml   6,000 records of one 40,000-character value each (240 MB): every value is longer
             than a cell holds, so each goes whole onto the "Long texts" sheet

then, with --program (and --baseline, alternating with it), runs
`EXE --quiet --multiple-sheets --output OUT FILE` on each under /usr/bin/time -f "%e %M" and
prints the median wall seconds and the largest peak resident memory. A bare parse of either
file needs about 5 MB; the import streams, so its peak should not follow the values' length
times their number. Standard library only.
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile

SEED = 20261208
FILES = {
    "fits.xml": (2_500, 32_000),
    "long.xml": (6_000, 40_000),
}
# Values of plain words and one with a character XML escapes, so that the parser resolves
# entities; about one byte a character, as the sizes above say.
WORDS = ("alpha", "beta", "gamma", "delta", "epsilon", "zeta", "a&b", "theta", "iota", "kappa")


def value(rng, length):
    """Text of exactly `length` characters (entities count as one)."""
    parts = []
    size = 0
    while size < length:
        word = WORDS[rng.randrange(len(WORDS))]
        parts.append(word)
        size += len(word) + 1
    text = " ".join(parts)[:length]
    return text.replace("&", "&amp;").replace("<", "&lt;")


def make(path, count, length):
    rng = random.Random(f"{SEED}:{os.path.basename(path)}")
    with open(path + ".part", "w", encoding="utf-8", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<dataroot>\n')
        for n in range(1, count + 1):
            out.write(f"<Note>\n<ID>{n}</ID>\n<Text>{value(rng, length)}</Text>\n</Note>\n")
        out.write("</dataroot>\n")
    os.replace(path + ".part", path)


def measure(exe, path, tmp):
    out = os.path.join(tmp, "out.xlsx")
    cmd = ["/usr/bin/time", "-f", "%e %M", exe, "--quiet", "--multiple-sheets", "--output", out, path]
    proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    last = proc.stderr.strip().splitlines()[-1] if proc.stderr.strip() else ""
    if proc.returncode != 0:
        sys.exit(f"{exe} failed on {path}: {proc.stderr.strip()}")
    seconds, kb = last.split()
    if os.path.exists(out):
        os.remove(out)
    return float(seconds), int(kb) / 1024.0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--program", help="palomet-import to measure")
    ap.add_argument("--baseline", help="another palomet-import, measured alternately")
    ap.add_argument("--reps", type=int, default=3)
    a = ap.parse_args()
    os.makedirs(a.outdir, exist_ok=True)
    for name, (count, length) in FILES.items():
        path = os.path.join(a.outdir, name)
        if not os.path.exists(path):
            make(path, count, length)
    programs = [(label, exe) for label, exe in (("program", a.program), ("baseline", a.baseline)) if exe]
    if not programs:
        return
    print(f"{'file':10} {'MB':>6} {'program':9} {'seconds':>8} {'peak MB':>8}")
    with tempfile.TemporaryDirectory(prefix="palomet-long-") as tmp:
        for name in FILES:
            path = os.path.join(a.outdir, name)
            figures = {label: [] for label, _ in programs}
            for _ in range(a.reps):
                for label, exe in programs:
                    figures[label].append(measure(exe, path, tmp))
            for label, _ in programs:
                wall = statistics.median(f[0] for f in figures[label])
                peak = max(f[1] for f in figures[label])
                print(f"{name:10} {os.path.getsize(path) / 1e6:6.0f} {label:9} {wall:8.2f} {peak:8.1f}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
