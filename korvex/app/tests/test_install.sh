#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that the installation runs
# on its own: the layout, the desktop entry, the libraries each program finds,
# the command line with its default program folder (bin/) and the OCR engine
# in bin/OCR, and the desktop program starting up.
set -euo pipefail
BUILD="$1"
SOURCE="$2"
PREFIX="$(mktemp -d /tmp/korvex-install-XXXXXX)"
trap 'rm -rf "$PREFIX"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" > "$PREFIX.log" || { cat "$PREFIX.log"; fail "cmake --install"; }
rm -f "$PREFIX.log"
BIN="$PREFIX/bin"

for f in Korvex korvex-cli OCR/Scrivane; do [ -x "$BIN/$f" ] || fail "bin/$f is not an installed program"; done
for f in libonnxruntime.so.1 model.onnx character_dict.txt; do
  [ -s "$BIN/OCR/$f" ] || fail "bin/OCR/$f missing"
  cmp -s "$BIN/OCR/$f" "$BUILD/scrivane/$f" || fail "bin/OCR/$f differs from the build's copy"
done
# Nothing else: no tests, forge or benchmarks.
extra="$(cd "$PREFIX" && find . -type f | sort | grep -v -x -e ./bin/Korvex -e ./bin/korvex-cli -e './bin/OCR/.*' \
  -e './share/applications/korvex.desktop' || true)"
[ -z "$extra" ] || fail "unexpected installed files: $extra"

DESKTOP="$PREFIX/share/applications/korvex.desktop"
[ -f "$DESKTOP" ] || fail "no desktop entry"
grep -qx 'Name=Varnel选举扫描计票工具' "$DESKTOP" || fail "desktop entry name"
grep -qx 'Exec=Korvex' "$DESKTOP" || fail "desktop entry command"
grep -qx 'Type=Application' "$DESKTOP" || fail "desktop entry type"
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$DESKTOP" || fail "desktop-file-validate"
else
  echo "note: desktop-file-validate not installed (desktop-file-utils), entry checked by its keys only"
fi

# The installed programs find their libraries without the build or source tree.
for f in Korvex korvex-cli OCR/Scrivane; do
  dynamic="$(readelf -d "$BIN/$f")"
  if grep -E 'RPATH|RUNPATH' <<<"$dynamic" | grep -q -e "$BUILD" -e "$SOURCE"; then fail "bin/$f keeps a build path"; fi
  libs="$(ldd "$BIN/$f")"
  if grep -q 'not found' <<<"$libs"; then fail "bin/$f: $(grep 'not found' <<<"$libs")"; fi
  if grep -q -e "$BUILD" -e "$SOURCE" <<<"$libs"; then fail "bin/$f loads from the build tree: $libs"; fi
done
grep -q 'RUNPATH.*\[\$ORIGIN\]' <<<"$(readelf -d "$BIN/OCR/Scrivane")" || fail "Scrivane's RUNPATH is not \$ORIGIN"
grep -q "libonnxruntime.so.1 => $BIN/OCR/libonnxruntime.so.1" <<<"$(ldd "$BIN/OCR/Scrivane")" \
  || fail "Scrivane does not load the runtime beside it: $(ldd "$BIN/OCR/Scrivane")"

# korvex-cli without KORVEX_HOME: the program folder is bin/, the engine bin/OCR/Scrivane.
out="$(cd / && env -u KORVEX_HOME "$BIN/korvex-cli" ocr-selftest 2>&1)" || fail "installed ocr-selftest: $out"
grep -q "自检通过" <<<"$out" || fail "ocr-selftest: $out"
grep -qF "$BIN/OCR/Scrivane" <<<"$out" || fail "ocr-selftest used another engine: $out"
printf '张三\n李四\n' > "$PREFIX/names.txt"
(cd / && env -u KORVEX_HOME "$BIN/korvex-cli" new-database --candidates "$PREFIX/names.txt" > /dev/null) || fail "new-database"
[ -f "$BIN/qm.mdb" ] || fail "qm.mdb not made in the program folder bin/"
out="$(env -u KORVEX_HOME "$BIN/korvex-cli" tally)" || fail "tally: $out"
grep -q "李四" <<<"$out" || fail "tally: $out"

# The desktop program starts on the offscreen platform and keeps running until stopped.
HOME_DIR="$PREFIX/home"; mkdir -p "$HOME_DIR"
KORVEX_HOME="$HOME_DIR" "$BIN/korvex-cli" new-database > /dev/null
KORVEX_HOME="$HOME_DIR" QT_QPA_PLATFORM=offscreen "$BIN/Korvex" > "$PREFIX/korvex.out" 2>&1 &
pid=$!
sleep 3
if ! kill -0 "$pid" 2> /dev/null; then
  wait "$pid" || true
  fail "Korvex ended at start: $(cat "$PREFIX/korvex.out")"
fi
kill "$pid"
status=0; wait "$pid" || status=$?
[ "$status" -eq 143 ] || fail "Korvex ended with $status instead of by the stop signal: $(cat "$PREFIX/korvex.out")"
echo "installation in $PREFIX: layout, libraries, korvex-cli and Korvex all fine"
