#!/usr/bin/python3
# Prints a workbook as xlrd reads it: "sheet:<name>" per sheet, then one line
# per row with tab-separated cells "<kind>:<value>" (E empty, S text,
# N number, B boolean, X error).
import sys
import xlrd

book = xlrd.open_workbook(sys.argv[1])
kinds = {xlrd.XL_CELL_EMPTY: "E", xlrd.XL_CELL_BLANK: "E", xlrd.XL_CELL_TEXT: "S",
         xlrd.XL_CELL_NUMBER: "N", xlrd.XL_CELL_BOOLEAN: "B", xlrd.XL_CELL_ERROR: "X"}
for sheet in book.sheets():
    print("sheet:" + sheet.name)
    for r in range(sheet.nrows):
        cells = []
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            kind = kinds.get(cell.ctype, "?")
            value = cell.value
            if kind == "E":
                value = ""
            elif kind == "N":
                value = repr(value)
            elif kind == "B":
                value = "1" if value else "0"
            cells.append(kind + ":" + str(value))
        print("\t".join(cells))
