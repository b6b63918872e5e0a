"""Reads an .xlsx file with openpyxl and prints its sheets, cells and look as JSON.

Text is unescaped the way spreadsheets show it (_xHHHH_ stands for one character), which
this openpyxl version leaves to its caller for inline strings.
"""
import datetime
import json
import re
import sys

import openpyxl

ESC = re.compile(r"_x([0-9A-Fa-f]{4})_")

wb = openpyxl.load_workbook(sys.argv[1])
out = {"active": wb.active.title, "sheets": []}
for ws in wb.worksheets:
    cells = []
    # The cells the file holds, in row order: iterating the used range would visit every
    # empty cell of a sheet that reaches its last row and column.
    for _, c in sorted(ws._cells.items()):
        v = c.value
        if v is None:
            continue
        if isinstance(v, str):
            kind, v = "s", ESC.sub(lambda m: chr(int(m.group(1), 16)), v)
        elif isinstance(v, datetime.datetime):
            kind, v = "d", v.isoformat()
        elif isinstance(v, bool):
            kind = "b"
        else:
            kind, v = "n", float(v)
        cells.append([c.row, c.column, kind, c.number_format, v, bool(c.font.b)])
    widths = {str(openpyxl.utils.column_index_from_string(k)): d.width
              for k, d in ws.column_dimensions.items() if d.customWidth}
    out["sheets"].append({"name": ws.title, "cells": cells, "widths": widths,
                          "freeze": ws.freeze_panes or "", "filter": ws.auto_filter.ref or ""})
print(json.dumps(out))
