#!/usr/bin/python3
"""Prints every sheet and non-empty cell of an .xlsx as read by openpyxl.

    xlsx_cells.py FILE

One line per sheet, "#sheet<TAB>name", in tab order, followed by one line per cell,
"row<TAB>col<TAB>kind<TAB>value<TAB>number format"; kind is s (text), n (number),
d (date), b (boolean). Backslash, tab, CR and LF in texts are written as \\ \t \r \n.
"""
import datetime
import sys

import openpyxl


def esc(s):
    return (s.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    out = []
    for ws in wb.worksheets:
        out.append("#sheet\t" + esc(ws.title))
        for row in ws.iter_rows():
            for c in row:
                v = c.value
                if v is None:
                    continue
                if isinstance(v, bool):
                    kind, text = "b", str(v)
                elif isinstance(v, (int, float)):
                    kind, text = "n", repr(v)
                elif isinstance(v, (datetime.datetime, datetime.date)):
                    kind, text = "d", v.isoformat()
                else:
                    kind, text = "s", str(v)
                out.append("%d\t%d\t%s\t%s\t%s" % (c.row, c.column, kind, esc(text),
                                                   esc(c.number_format)))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
