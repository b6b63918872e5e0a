"""Checks a large .xlsx with Python's zipfile: every entry's CRC, the size of one part,
and the cells of one row of that part, read as the part streams by (never held whole).

usage: zip64_check.py BOOK.xlsx PART ROW
"""
import re
import sys
import zipfile

book, part, row = sys.argv[1], sys.argv[2], sys.argv[3]
with zipfile.ZipFile(book) as z:
    bad = z.testzip()
    print("every CRC good" if bad is None else "bad CRC in " + bad)
    print("sheet part over 4 GB:", "yes" if z.getinfo(part).file_size > 1 << 32 else "no")
    start = ('<row r="%s">' % row).encode()
    tail = b""
    with z.open(part) as f:
        while True:
            chunk = f.read(1 << 22)
            if not chunk:
                break
            tail = (tail + chunk)[-(1 << 23):]
    at = tail.rfind(start)
    end = tail.find(b"</row>", at)
    if at < 0 or end < 0:
        sys.exit("row %s not found at the end of %s" % (row, part))
    for m in re.finditer(rb'<c r="([A-Z]+\d+)"[^>]*?(?: t="(\w+)")?>(?:<v>([^<]*)</v>|<is><t[^>]*>([^<]*)</t></is>)</c>',
                         tail[at:end]):
        ref, kind, value, text = m.groups()
        print(ref.decode(), (kind or b"n").decode(), (value if value is not None else text).decode())
