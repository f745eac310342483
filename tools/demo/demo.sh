#!/usr/bin/env bash
# The main job end to end, in a fresh program folder: a counting database with
# a dozen candidates, the standard ballot with two write-in slots, 60 forged
# filled ballots (valid, too many approvals, abstentions, turned pages, 600 dpi,
# two handwritten write-ins, one duplicate scan), committed through the command
# line, then the tallies, the review list, the exports and the report, and a
# check of the tallies against the forge's ground truth.
set -euo pipefail
BUILD="$1"                      # the build folder with bin/ and scrivane/
HOME_DIR="$2"                   # the demo's program folder (made afresh)
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
CLI="$BUILD/bin/korvex-cli"
FORGE="$(find "$BUILD/tools/ballot-forge" -maxdepth 1 -name ballot-forge -type f | head -n 1)"

rm -rf "$HOME_DIR"
mkdir -p "$HOME_DIR"
export KORVEX_HOME="$HOME_DIR"
cat > "$HOME_DIR/Korvex.ini" <<INI
[SYSTEM]
BDY=5

[OCR]
Command=$BUILD/scrivane/Scrivane
INI

echo "== 1. counting database with 12 candidates"
"$CLI" new-database --candidates "$HERE/candidates.txt"

echo "== 2. standard ballot with 2 write-in slots"
mapfile -t made < <("$CLI" generate --title "示范选举" --write-ins 2)
TEMPLATE="${made[0]}"
echo "template $TEMPLATE"
echo "preview  ${made[1]}"

echo "== 3. forging 60 filled ballots"
marks="$HOME_DIR/marks.txt"
rep() { local out=""; for ((r = 0; r < $2; r++)); do out+="$1"; done; printf '%s' "$out"; }
{
  # 42 valid ballots with 1 to 5 approvals, crosses and blanks.
  for i in $(seq 0 41); do
    line=""
    for c in $(seq 0 11); do
      case $(( (i * 7 + c * 5 + i * c) % 9 )) in
        0|1) line+="O" ;;
        2|3|4) line+="X" ;;
        *) line+="-" ;;
      esac
    done
    # at most five approvals
    n=0; out=""
    for ((k = 0; k < 12; k++)); do
      ch="${line:k:1}"
      if [ "$ch" = O ]; then n=$((n + 1)); [ $n -gt 5 ] && ch=X; fi
      out+="$ch"
    done
    echo "$out | :- | :-"
  done
  # 8 invalid ballots: more approvals than allowed.
  for i in $(seq 0 7); do echo "OOOOOO$(rep O $((i % 2)))$(rep X $((6 - i % 2 - i % 3)))$(rep - $((i % 3))) | :- | :-"; done
  # 8 abstention ballots: no approval at all.
  for i in $(seq 0 7); do echo "$(rep - $((12 - i)))$(rep X "$i") | :- | :-"; done
  # 2 ballots with a handwritten write-in and a reliable cross.
  echo "OX-O-X--O--- | 欧阳娜娜:O | :-"
  echo "-XO--OX----O | 郑秀英:O | :-"
} > "$marks"
head -n 50 "$marks" > "$HOME_DIR/marks300.txt"                 # valid and invalid ballots
sed -n '51,58p' "$marks" > "$HOME_DIR/marks600.txt"            # invalid and abstention ballots at 600 dpi
tail -n 2 "$marks" > "$HOME_DIR/marks-writeins.txt"            # the two write-ins
"$FORGE" standard --template "$TEMPLATE" --out "$HOME_DIR/Scans/batch300" --marks "$HOME_DIR/marks300.txt" \
  --seed 20261210 --dpi 300 --rotate random --format png --hard 0 > /dev/null
"$FORGE" standard --template "$TEMPLATE" --out "$HOME_DIR/Scans/batch600" --marks "$HOME_DIR/marks600.txt" \
  --seed 20261211 --dpi 600 --rotate random --format jpg --quality 92 --hard 0 > /dev/null
"$FORGE" standard --template "$TEMPLATE" --out "$HOME_DIR/Scans/writeins" --marks "$HOME_DIR/marks-writeins.txt" \
  --seed 20261212 --dpi 300 --rotate 0 --format bmp --hard 0 > /dev/null
first="$(ls "$HOME_DIR/Scans/batch300"/scan_* | head -n 1)"
cp "$first" "$HOME_DIR/Scans/duplicate-of-first.${first##*.}"
mapfile -t scans < <(ls "$HOME_DIR"/Scans/batch300/scan_* "$HOME_DIR"/Scans/batch600/scan_* "$HOME_DIR"/Scans/writeins/scan_* "$HOME_DIR"/Scans/duplicate-of-first.*)
echo "${#scans[@]} scans (the last is a copy of the first)"

echo "== 4. recognise and commit"
set +e
"$CLI" commit "${scans[@]}" | tee "$HOME_DIR/commit.log"
set -e

echo "== 5. tallies"
"$CLI" tally

echo "== 6. exports and the report"
"$CLI" export summary "$HOME_DIR/计票结果_序号.xls"
"$CLI" export summary-by-votes "$HOME_DIR/计票结果_票数.xls"
"$CLI" export detail "$HOME_DIR/计票明细.xls"
"$CLI" export statistics "$HOME_DIR/明细统计.xls"
"$CLI" report --title "示范选举"

echo "== 7. verdict"
python3 "$HERE/verify.py" "$HOME_DIR" 5
