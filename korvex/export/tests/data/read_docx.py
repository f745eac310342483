#!/usr/bin/python3
# Prints a .docx as python-docx reads it, one line per item, fields split by tabs:
#   title <core title>
#   P <alignment> <text> <runs as eastAsiaFont/asciiFont/points, joined by ;>
#   T <rows> <columns> <borders as side=value, joined by ,> <table alignment>
#   R <cell texts of one row...>        (after its T line)
#   C <alignment of the cell paragraphs> <runs of the first cell with text>
import sys
import docx
from docx.oxml.ns import qn
from docx.table import Table
from docx.text.paragraph import Paragraph

def runs(paragraph):
    out = []
    for run in paragraph.runs:
        fonts = run._element.rPr.rFonts if run._element.rPr is not None else None
        east = fonts.get(qn("w:eastAsia")) if fonts is not None else None
        size = run.font.size.pt if run.font.size is not None else None
        out.append("%s/%s/%s" % (east, run.font.name, size if size is None else "%g" % size))
    return ";".join(out)

def alignment(paragraph):
    a = paragraph.alignment
    return "None" if a is None else str(int(a))

doc = docx.Document(sys.argv[1])
print("title\t" + (doc.core_properties.title or ""))
for child in doc.element.body.iterchildren():
    if child.tag == qn("w:p"):
        p = Paragraph(child, doc)
        print("\t".join(["P", alignment(p), p.text, runs(p)]))
    elif child.tag == qn("w:tbl"):
        t = Table(child, doc)
        pr = child.tblPr
        borders = pr.find(qn("w:tblBorders"))
        sides = [] if borders is None else ["%s=%s" % (b.tag.split("}")[1], b.get(qn("w:val"))) for b in borders]
        jc = pr.find(qn("w:jc"))
        print("\t".join(["T", str(len(t.rows)), str(len(t.columns)), ",".join(sides),
                         "" if jc is None else jc.get(qn("w:val"))]))
        for row in t.rows:
            print("\t".join(["R"] + [cell.text for cell in row.cells]))
        aligns = sorted({alignment(p) for row in t.rows for cell in row.cells for p in cell.paragraphs})
        first = next((p for row in t.rows for cell in row.cells for p in cell.paragraphs if p.runs), None)
        print("\t".join(["C", ",".join(aligns), "" if first is None else runs(first)]))
