#!/usr/bin/env python3
"""Reads an .xls workbook with xlrd and prints it as JSON: xls_cells.py FILE [--summary]

Every sheet as {"name", "nrows", "ncols", "rows"}; a cell is null when empty, else
{"s": text}, {"n": number, "f": format} or {"d": "yyyy-mm-dd hh:mm:ss", "f": format}.
With --summary a sheet carries only its heading row and the first column of every row.
"records" counts the workbook stream's records by id (hex)."""
import json
import struct
import sys

import xlrd
import xlrd.compdoc


def cell_json(book, cell):
    if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
        return None
    if cell.ctype == xlrd.XL_CELL_TEXT:
        return {"s": cell.value}
    fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
    if cell.ctype == xlrd.XL_CELL_DATE:
        y, mo, d, h, mi, s = xlrd.xldate_as_tuple(cell.value, book.datemode)
        return {"d": "%04d-%02d-%02d %02d:%02d:%02d" % (y, mo, d, h, mi, s), "f": fmt}
    if cell.ctype == xlrd.XL_CELL_NUMBER:
        return {"n": cell.value, "f": fmt}
    return {"other": repr(cell.value)}


def record_counts(path):
    with open(path, "rb") as f:
        doc = xlrd.compdoc.CompDoc(f.read(), logfile=sys.stderr)
    stream = doc.get_named_stream("Workbook")
    counts = {}
    pos = 0
    while pos + 4 <= len(stream):
        rid, size = struct.unpack_from("<HH", stream, pos)
        key = "%04x" % rid
        counts[key] = counts.get(key, 0) + 1
        pos += 4 + size
    return counts


def main():
    path = sys.argv[1]
    summary = "--summary" in sys.argv
    book = xlrd.open_workbook(path, formatting_info=True)
    sheets = []
    for sh in book.sheets():
        out = {"name": sh.name, "nrows": sh.nrows, "ncols": sh.ncols}
        if summary:
            out["heading"] = [cell_json(book, c) for c in sh.row(0)] if sh.nrows else []
            out["first"] = [cell_json(book, sh.cell(r, 0)) for r in range(1, sh.nrows)]
        else:
            out["rows"] = [[cell_json(book, sh.cell(r, c)) for c in range(sh.ncols)]
                           for r in range(sh.nrows)]
        sheets.append(out)
    json.dump({"sheets": sheets, "records": record_counts(path)}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
