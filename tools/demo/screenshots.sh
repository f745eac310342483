#!/usr/bin/env bash
# PNG screenshots of the desktop program under a virtual X display: the main
# window on a prepared program folder (forged ballots queued and recognised,
# one with a write-in selected, the recognised cells drawn over the scan), the
# external template editor with drawn tasks, and the candidate editor.
set -euo pipefail
BUILD="$1"                      # the build folder with bin/, scrivane/ and the test programs
OUT="$2"                        # where the PNG files go
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
CLI="$BUILD/bin/korvex-cli"
FORGE="$BUILD/tools/ballot-forge/ballot-forge"
HOME_DIR="$OUT/program-folder"

rm -rf "$HOME_DIR"
mkdir -p "$HOME_DIR"
OUT="$(cd "$OUT" && pwd)"
HOME_DIR="$OUT/program-folder"
export KORVEX_HOME="$HOME_DIR"
{
  echo "[SYSTEM]"
  echo "BDY=5"
  if [ -x "$BUILD/scrivane/Scrivane" ]; then printf '\n[OCR]\nCommand=%s\n' "$BUILD/scrivane/Scrivane"; fi
} > "$HOME_DIR/Korvex.ini"

"$CLI" new-database --candidates "$HERE/candidates.txt" > /dev/null
mapfile -t made < <("$CLI" generate --title "示范选举" --write-ins 2)
cat > "$HOME_DIR/marks.txt" <<'MARKS'
OX-O-X--O--- | :- | :-
OOOOOOX----- | :- | :-
---XX------- | :- | :-
OX-O-X--O--- | 欧阳娜娜:O | :-
-XO--OX----O | :- | :-
MARKS
"$FORGE" standard --template "${made[0]}" --out "$HOME_DIR/Scans/forged" --marks "$HOME_DIR/marks.txt" \
  --seed 20261210 --dpi 300 --rotate 0 --format png --hard 0 > /dev/null

run_x() { xvfb-run -a -s "-screen 0 1600x1000x24" env QT_QPA_PLATFORM=xcb "$@"; }

run_x "$BUILD/bin/Korvex" --recognize-all --select 4 --screenshot "$OUT/main-window.png" \
  "$HOME_DIR"/Scans/forged/scan_*.png
echo "$OUT/main-window.png"

# The editors' pictures come from their window tests, which save them when asked.
KORVEX_SCREENSHOT_DIR="$OUT" run_x "$BUILD/korvex/ui/korvex_ui_tests" \
  --gtest_filter='ExternalEditor.PaintsTheDrawnTasksOverThePicture:CandidateEditor*.ImportReadsOneNamePerLine' > /dev/null
for f in external-editor.png candidate-editor.png; do
  [ -f "$OUT/$f" ] || { echo "screenshots: $f was not written" >&2; exit 1; }
  echo "$OUT/$f"
done
