#!/usr/bin/env python3
"""Checks that bench/gen.py makes the benchmark workloads byte for byte as defined.

    gen_test.py REPO [--write-table]

Runs the project's generator for a few small cases and compares the SHA-256 of
every file it writes, and of what it prints, with the table bench/workloads.sha256.
When the team's shared generator, the definition of the workloads, lies beside
the checkout (REPO/../shared/bench/gen.py), each case also runs through it and
the two output folders must match byte for byte. --write-table rewrites the
table from the project's generator once that comparison has passed.
"""
import hashlib
import os
import subprocess
import sys
import tempfile

# Each case is one or more runs into the same folder. Scale 0.0001 makes one W2
# file and a few records of W1 and W3; 0.006 makes twelve W2 files under two
# element names; "merged" checks that --only keeps the other workloads' entries.
CASES = {
    "tiny": [["--scale", "0.0001"]],
    "small": [["--scale", "0.006"]],
    "merged": [["--scale", "0.006", "--only", "w3"],
               ["--scale", "0.0001", "--only", "w2,w1"]],
}
STDOUT = "(stdout)"
TABLE_HEAD = """\
# SHA-256 of every file bench/gen.py writes, and of what it prints, for the cases
# of tests/bench/gen_test.py. The workloads must not change: figures taken on
# different days compare only while they stay the same.
# case  sha256  file
"""


def run_case(gen, runs, folder):
    """Runs gen for each of runs into folder; returns {relative path: sha256}."""
    printed = b""
    for args in runs:
        done = subprocess.run([sys.executable, gen, folder] + args, capture_output=True)
        if done.returncode != 0:
            raise SystemExit(f"{gen} {' '.join(args)} failed: {done.stderr.decode()}")
        printed = done.stdout
    sums = {STDOUT: hashlib.sha256(printed).hexdigest()}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as fh:
                sums[os.path.relpath(path, folder)] = hashlib.sha256(fh.read()).hexdigest()
    return sums


def read_table(path):
    table = {}
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            if line.strip() and not line.startswith("#"):
                case, digest, name = line.split()
                table.setdefault(case, {})[name] = digest
    return table


def differences(label, got, want):
    out = []
    for name in sorted(got.keys() | want.keys()):
        if name not in want:
            out.append(f"{label}: {name} is written but not expected")
        elif name not in got:
            out.append(f"{label}: {name} is expected but not written")
        elif got[name] != want[name]:
            out.append(f"{label}: {name} differs")
    return out


def check_bad_input(gen, tmp):
    """Bad arguments and a damaged manifest end with a message, not a traceback."""
    folder = os.path.join(tmp, "bad")
    os.makedirs(folder)
    with open(os.path.join(folder, "manifest.json"), "w") as fh:
        fh.write("{not json")
    cases = [
        (["--scale", "0"], "--scale"),
        (["--scale", "nan"], "--scale"),
        (["--scale", "inf"], "--scale"),
        (["--scale", "0.0001", "--only", "w1,w4"], "w1,w4"),
        (["--scale", "0.0001"], "manifest.json"),
    ]
    problems = []
    for args, named in cases:
        done = subprocess.run([sys.executable, gen, folder] + args, capture_output=True, text=True)
        if done.returncode == 0 or "Traceback" in done.stderr or named not in done.stderr:
            problems.append(f"gen.py {' '.join(args)}: exit {done.returncode}, "
                            f"expected a message naming {named!r}: {done.stderr.strip()}")
    return problems


def check_stale_parts(gen, tmp):
    """A smaller scale into the same folder leaves W2 with only its own files."""
    folder = os.path.join(tmp, "shrunk")
    for scale in ("0.006", "0.0001"):
        subprocess.run([sys.executable, gen, folder, "--scale", scale, "--only", "w2"],
                       check=True, capture_output=True)
    left = sorted(os.listdir(os.path.join(folder, "many")))
    return [] if left == ["part_0000.xml"] else [f"W2 at a smaller scale left {left}"]


def main():
    repo = os.path.abspath(sys.argv[1])
    write_table = "--write-table" in sys.argv[2:]
    gen = os.path.join(repo, "bench", "gen.py")
    table_path = os.path.join(repo, "bench", "workloads.sha256")
    shared = os.path.join(os.path.dirname(repo), "shared", "bench", "gen.py")
    have_shared = os.path.exists(shared)
    if write_table and not have_shared:
        sys.exit(f"--write-table needs the shared generator at {shared}")

    table = {} if write_table else read_table(table_path)
    problems = []
    got = {}
    with tempfile.TemporaryDirectory(prefix="palomet-gen-test-") as tmp:
        for case, runs in CASES.items():
            got[case] = run_case(gen, runs, os.path.join(tmp, "ours-" + case))
            if have_shared:
                want = run_case(shared, runs, os.path.join(tmp, "shared-" + case))
                problems += differences(f"{case}, against {shared}", got[case], want)
            if not write_table:
                problems += differences(f"{case}, against {table_path}", got[case],
                                        table.get(case, {}))
        problems += check_bad_input(gen, tmp)
        problems += check_stale_parts(gen, tmp)

    if problems:
        print("\n".join(problems))
        sys.exit(1)
    if write_table:
        with open(table_path, "w", encoding="utf-8") as fh:
            fh.write(TABLE_HEAD)
            for case, sums in got.items():
                for name in sorted(sums):
                    fh.write(f"{case}  {sums[name]}  {name}\n")
        print(f"wrote {table_path}")
    else:
        checked = "the shared generator and " if have_shared else ""
        print(f"{len(CASES)} cases match {checked}{os.path.relpath(table_path, repo)}")


if __name__ == "__main__":
    main()
