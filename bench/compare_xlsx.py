#!/usr/bin/python3
"""Tells whether two .xlsx workbooks hold the same thing.

    bench/compare_xlsx.py A.xlsx B.xlsx            part by part, uncompressed bytes
    bench/compare_xlsx.py --cells A.xlsx B.xlsx    sheet by sheet, cell by cell (openpyxl)
    bench/compare_xlsx.py --dirs DIR_A DIR_B       every *.xlsx of DIR_A against DIR_B's

The first form is the strict one: every part of the package, decompressed, must be the
same bytes, save for the times in docProps/core.xml (a save's own time). Compression and
the zip container may differ. The second reads both with openpyxl and compares sheet
names, in order, and every cell's value and number format; use it where the parts may
legitimately differ in form. Exit status 0 when the workbooks are the same, 1 when they
differ (the first differences are printed), 2 on a usage error.
"""

import argparse
import pathlib
import re
import sys
import zipfile

_TIMES = re.compile(rb"<dcterms:(created|modified)[^>]*>[^<]*</dcterms:\1>")


def _parts(path):
    with zipfile.ZipFile(path) as z:
        out = {}
        for info in z.infolist():
            data = z.read(info)
            if info.filename == "docProps/core.xml":
                data = _TIMES.sub(b"", data)
            out[info.filename] = data
        return out


def _first_difference(a, b):
    n = min(len(a), len(b))
    for i in range(n):
        if a[i] != b[i]:
            return i
    return n


def compare_parts(a, b, report):
    pa, pb = _parts(a), _parts(b)
    same = True
    if list(pa) != list(pb):
        report(f"part lists differ: only in first {sorted(set(pa) - set(pb))}, "
               f"only in second {sorted(set(pb) - set(pa))}, or in another order")
        same = False
    for name in pa:
        if name in pb and pa[name] != pb[name]:
            i = _first_difference(pa[name], pb[name])
            report(f"{name}: differs at byte {i} of {len(pa[name])}/{len(pb[name])}: "
                   f"{pa[name][max(0, i - 60):i + 60]!r} / {pb[name][max(0, i - 60):i + 60]!r}")
            same = False
    return same


def compare_cells(a, b, report, limit=20):
    import openpyxl  # only this form needs it

    wa = openpyxl.load_workbook(a, read_only=True)
    wb = openpyxl.load_workbook(b, read_only=True)
    if wa.sheetnames != wb.sheetnames:
        report(f"sheet names differ: {wa.sheetnames[:10]} / {wb.sheetnames[:10]}")
        return False
    differences = 0
    for name in wa.sheetnames:
        rows_a = wa[name].iter_rows()
        rows_b = wb[name].iter_rows()
        r = 0
        while True:
            ra = next(rows_a, None)
            rb = next(rows_b, None)
            r += 1
            if ra is None and rb is None:
                break
            ca = [(c.value, c.number_format) for c in ra or () if c.value is not None]
            cb = [(c.value, c.number_format) for c in rb or () if c.value is not None]
            if ca != cb:
                differences += 1
                report(f"{name!r} row {r}: {ca[:6]} / {cb[:6]}")
                if differences >= limit:
                    return False
    return differences == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--cells", action="store_true", help="compare cells, not parts")
    parser.add_argument("--dirs", action="store_true", help="compare two folders of workbooks")
    args = parser.parse_args()

    pairs = [(pathlib.Path(args.first), pathlib.Path(args.second))]
    if args.dirs:
        pairs = [(p, pathlib.Path(args.second) / p.name)
                 for p in sorted(pathlib.Path(args.first).glob("*.xlsx"))]
        if not pairs:
            print(f"no .xlsx in {args.first}", file=sys.stderr)
            return 2
    all_same = True
    for a, b in pairs:
        if not b.exists():
            print(f"{a.name}: missing in {b.parent}")
            all_same = False
            continue
        lines = []
        compare = compare_cells if args.cells else compare_parts
        same = compare(a, b, lines.append)
        print(f"{a.name}: {'same' if same else 'DIFFERENT'}")
        for line in lines[:20]:
            print("   ", line)
        all_same = all_same and same
    return 0 if all_same else 1


if __name__ == "__main__":
    sys.exit(main())
