#!/usr/bin/env python3
"""Compares the committed tallies with the forge's ground truth.

Reads every truth.json under Scans/, the commit log (which scans were
committed and which were refused), and the tallies in qm.mdb. Expected
tallies count, over the committed scans only, the approvals, crosses and
blanks of valid ballots; abstention ballots store no marks and invalid ballots
count nowhere. The ballot type follows from the intended marks and the maximum.
Prints one verdict line and exits 0 when it holds.
"""
import glob
import json
import os
import sqlite3
import sys

home, max_select = sys.argv[1], int(sys.argv[2])

truth = {}
for path in glob.glob(os.path.join(home, "Scans", "*", "truth.json")):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    for scan in data["ballots"]:
        truth[os.path.realpath(os.path.join(os.path.dirname(path), scan["file"]))] = scan

committed, refused, review = [], [], []
with open(os.path.join(home, "commit.log"), encoding="utf-8") as f:
    for line in f:
        parts = line.rstrip("\n").split("\t")
        if parts[0] == "已入库":
            committed.append(os.path.realpath(parts[1]))
        elif parts[0] == "入库失败":
            refused.append((os.path.realpath(parts[1]), parts[2] if len(parts) > 2 else ""))
        elif parts[0] == "待复核":
            review.append(os.path.realpath(parts[1]))

db = sqlite3.connect(os.path.join(home, "qm.mdb"))
names = [row[0] for row in db.execute("select xm from abc where nxr=0 order by id")]
expected = {n: [0, 0, 0] for n in names}
writeins = {}
for path in committed:
    scan = truth[path]
    marks = [c["mark"] for c in scan["candidates"]]
    named = [w for w in scan["writeIns"] if w["mark"] == "O" and w["name"].strip()]
    approvals = marks.count("O") + len(named)
    kind = "abstention" if approvals == 0 else ("invalid" if approvals > max_select else "valid")
    for name, mark in zip(names, marks):
        if kind == "valid" and mark == "O":
            expected[name][0] += 1
        if kind == "valid" and mark == "X":
            expected[name][1] += 1
        if kind == "valid" and mark == "blank":
            expected[name][2] += 1
    if kind == "valid":
        for w in named:
            writeins[w["name"]] = writeins.get(w["name"], 0) + 1

actual = {row[0]: [row[1], row[2], row[3]] for row in db.execute("select xm, zc, bzc, qq from abc where nxr=0")}
wrong = [n for n in names if actual.get(n) != expected[n]]
actual_writeins = {row[0]: row[1] for row in db.execute("select xm, zc from abc where nxr<>0")}
wrong_writeins = [n for n in actual_writeins if actual_writeins[n] != writeins.get(n, 0)]
duplicates = [p for p, why in refused if "重复计票" in why]

for n in wrong:
    print(f"  {n}: counted {actual.get(n)}, truth {expected[n]}")
for n in wrong_writeins:
    print(f"  write-in {n}: counted {actual_writeins[n]}, truth {writeins.get(n, 0)}")
ok = not wrong and not wrong_writeins and len(duplicates) == 1
print(f"VERDICT: {'PASS' if ok else 'FAIL'} — {len(committed)} ballots committed, {len(review)} left for review, "
      f"{len(duplicates)} duplicate scan refused; tallies of {len(names)} candidates "
      f"{'equal' if not wrong else 'differ from'} the ground truth"
      + (f"; write-ins {sorted(actual_writeins)}" if actual_writeins else ""))
sys.exit(0 if ok else 1)
