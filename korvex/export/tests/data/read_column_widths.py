#!/usr/bin/python3
# Prints the column widths of a workbook's first sheet, one line per column
# "<index>\t<width in characters>": for .xls as xlrd reads the COLINFO records
# (1/256 of a character each), for .xlsx as the <col> elements state them.
import re
import sys
import zipfile

path = sys.argv[1]
if path.endswith(".xlsx"):
    with zipfile.ZipFile(path) as z:
        xml = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
    for col in re.findall(r"<col [^>]*>", xml):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', col))
        for index in range(int(attrs["min"]) - 1, int(attrs["max"])):
            if index < 256:
                print("%d\t%s" % (index, attrs["width"]))
else:
    import xlrd
    sheet = xlrd.open_workbook(path, formatting_info=True).sheet_by_index(0)
    for index in sorted(sheet.colinfo_map):
        print("%d\t%.4f" % (index, sheet.colinfo_map[index].width / 256.0))
