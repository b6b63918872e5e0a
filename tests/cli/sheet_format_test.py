#!/usr/bin/python3
"""The look of the workbook palomet-import writes, read back with openpyxl.

    sheet_format_test.py PALOMET_IMPORT SOURCE_DIR

Bold field-name rows, fitted column widths, and in multiple-sheets mode a frozen header
row and a filter over each table, on small tables and at the sheet's limits. Then the
bench workloads W1, W2 and W3 at a small scale in both modes: every cell (value, type,
number format) and every sheet name must be what the writer gave before sheets had a
look, whose digests are below.
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

import openpyxl

EXE = SOURCE = None
SCALE = "0.01"

# Digests of CellDump for the workloads at SCALE, taken from the output of the writer
# before bold rows, widths, frozen panes and filters existed.
EXPECTED = {
    ("flat.xml", False):
        "4d5427ba101e0b1ace1c8c4b980a0eed4321a08983184599600a2e2420f788b8",
    ("flat.xml", True):
        "7201903e860863ce1494cfc80e656f5e708d5229b1cace50eb45ec8f90d5116b",
    ("many", False):
        "ef58e155af94abb5551837286e0175242cb1168cb7cd6c7b5f4c54eef734eaec",
    ("many", True):
        "42fc9288aa48d1b2fc61a1a040c1fa7088c1ccf38b62c599250a6b3b38f005a1",
    ("nested.xml", False):
        "b28a429d3d977bec9891926ba5826cdacc0d96ede4d1d689aa1ac209405d7d14",
    ("nested.xml", True):
        "1fdc9b4f389e85fd96adabdf99087b7127f745c269f767c2253b4f61c8baf5e0",
}


def run_import(out, inputs, multiple):
    cmd = [EXE, "-q", "-o", out] + (["--multiple-sheets"] if multiple else []) + inputs
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        raise AssertionError(f"{cmd} failed: {proc.stderr}")
    unzip = subprocess.run(["unzip", "-tqq", out], capture_output=True)
    if unzip.returncode != 0:
        raise AssertionError(f"unzip -t {out}: {unzip.stdout!r}")
    return openpyxl.load_workbook(out)


def cell_dump(wb):
    """Sheet names and every cell's position, type, value and number format."""
    h = hashlib.sha256()
    for ws in wb.worksheets:
        h.update(("#" + ws.title + "\n").encode())
        for (row, col), c in sorted(ws._cells.items()):
            if c.value is None:
                continue
            h.update(f"{row}\t{col}\t{c.data_type}\t{c.value!r}\t{c.number_format}\n".encode())
    return h.hexdigest()


def widths(ws):
    return {k: round(d.width, 2) for k, d in ws.column_dimensions.items() if d.customWidth}


class Look(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text)
        return path

    def bold_rows(self, ws):
        rows = {}
        for (row, _), c in ws._cells.items():
            if c.value is not None:
                rows.setdefault(row, set()).add(bool(c.font.b))
        for row, kinds in rows.items():
            self.assertEqual(len(kinds), 1, f"row {row} is partly bold")
        return sorted(r for r, kinds in rows.items() if True in kinds)

    def test_both_modes(self):
        a = self.write("a.xml", "<r><T><id>1</id><name>Zoë Müller</name><when>2024-06-01</when>"
                                "<amount>1234567.50</amount></T><T><id>2</id><name>x</name>"
                                "<when>2024-06-02</when><amount>3</amount></T></r>")
        b = self.write("b.xml", "<r><Other><a_rather_long_field_name>7</a_rather_long_field_name>"
                                "</Other></r>")
        out = os.path.join(self.dir, "one.xlsx")
        ws = run_import(out, [a, b], False).worksheets[0]
        # Two stacked tables: each field-name row bold, nothing else.
        self.assertEqual(self.bold_rows(ws), [1, 4])
        self.assertEqual(ws.freeze_panes, None)
        self.assertIsNone(ws.auto_filter.ref)
        # Widest shown text plus 2, as the file spells widths (plus 5 pixels of padding).
        def w(chars):
            return round(int((int(chars * 7 + 0.5) + 5) / 7 * 256) / 256, 2)
        self.assertEqual(widths(ws), {"A": w(26), "B": w(12), "C": w(12), "D": w(12)})
        self.assertEqual(ws["D2"].number_format, "0.00")  # values keep their formats
        self.assertEqual(ws["D2"].value, 1234567.5)

        out = os.path.join(self.dir, "multi.xlsx")
        wb = run_import(out, [a, b], True)
        self.assertEqual(wb.sheetnames, ["T", "Other"])
        t, other = wb["T"], wb["Other"]
        self.assertEqual(self.bold_rows(t), [1])
        self.assertEqual(t.freeze_panes, "A2")
        self.assertEqual(t.auto_filter.ref, "A1:D3")
        self.assertEqual(widths(t), {"A": w(4), "B": w(12), "C": w(12), "D": w(12)})
        # A table of one column, header and one value.
        self.assertEqual(other.freeze_panes, "A2")
        self.assertEqual(other.auto_filter.ref, "A1:A2")
        self.assertEqual(widths(other), {"A": w(26)})

    def test_attributes_only_last_column_and_longest_value(self):
        # An element of attributes only: its row leaves the first column empty.
        empty = self.write("e.xml", '<r><E x="1" y="2"/></r>')
        out = os.path.join(self.dir, "e.xlsx")
        ws = run_import(out, [empty], True).worksheets[0]
        self.assertEqual(ws.freeze_panes, "A2")
        self.assertEqual(self.bold_rows(ws), [1])
        self.assertEqual(ws.auto_filter.ref, "A1:C2")

        # As many fields as a table may have (16,384 columns are the engine's tests'), and a
        # value at the cell limit, whose width is capped.
        fields = "".join(f"<f{i}>{i}</f{i}>" for i in range(1_999))
        wide = self.write("w.xml", f"<r><W><long>{'z' * 32_767}</long>{fields}</W></r>")
        for multiple in (False, True):
            out = os.path.join(self.dir, f"w{multiple}.xlsx")
            ws = run_import(out, [wide], multiple).worksheets[0]
            self.assertEqual(ws.max_column, 2_000)
            self.assertEqual(len(ws["A2"].value), 32_767)
            self.assertEqual(self.bold_rows(ws), [1])
            got = widths(ws)
            self.assertEqual(len(got), 2_000)
            self.assertEqual(got["A"], 60.71)
            self.assertEqual(ws.freeze_panes, "A2" if multiple else None)
            self.assertEqual(ws.auto_filter.ref, "A1:BXX2" if multiple else None)


class SameCells(unittest.TestCase):
    def test_workloads_keep_every_cell(self):
        with tempfile.TemporaryDirectory() as tmp:
            data = os.path.join(tmp, "data")
            subprocess.run([sys.executable, os.path.join(SOURCE, "bench", "gen.py"), data,
                            "--scale", SCALE], check=True, stdout=subprocess.DEVNULL)
            for (name, multiple), digest in EXPECTED.items():
                with self.subTest(workload=name, multiple=multiple):
                    out = os.path.join(tmp, "out.xlsx")
                    wb = run_import(out, [os.path.join(data, name)], multiple)
                    self.assertEqual(cell_dump(wb), digest)


if __name__ == "__main__":
    EXE, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
