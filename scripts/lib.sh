# Shared by scripts/run, scripts/test and scripts/fuzz: install what is missing, then configure
# and build.
set -euo pipefail

VELMORA_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libxml2-dev libisal-dev
  libarchive-dev libarchive-tools unzip p7zip-full tar curl wget goaccess
  qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic libqrencode-dev zbar-tools desktop-file-utils
  chromium python3-websocket libjpeg62-turbo-dev libpng-dev libwebp-dev libgif-dev ffmpegthumbnailer
  libssl-dev openssl libnss3-tools)
# The fuzz targets need clang and its libFuzzer and sanitizer runtimes (scripts/fuzz, scripts/test).
VELMORA_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
VELMORA_FUZZ_CXX=clang++-14

# velmora_install [EXTRA PACKAGES...]: apt-get runs only when a package is missing, so a warm
# machine starts at once.
velmora_install() {
  local missing=()
  for package in "${VELMORA_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# velmora_build DIR [CMAKE ARGS...]: configure once, then build everything in DIR (only the
# targets named in VELMORA_TARGETS when it is set).
velmora_build() {
  local dir=$1
  shift
  cmake -S "$VELMORA_TOP" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" ${VELMORA_TARGETS:+--target $VELMORA_TARGETS}
}

# velmora_fuzz DIR SECONDS: runs every fuzz target built in DIR for SECONDS on a scratch copy of
# its seed corpus (tests/fuzz/corpus/NAME) and prints its executions and corpus size. Fails when
# any target reports a finding; the input that caused it and the target's log stay in
# DIR/findings.
velmora_fuzz() {
  local dir=$1 seconds=$2 status=0 scratch target name corpus
  scratch=$(mktemp -d)
  rm -rf "$dir/findings"
  mkdir -p "$dir/findings"
  for target in "$dir"/tests/fuzz/*Fuzz; do
    name=$(basename "$target")
    corpus="$scratch/$name"
    if ! cp -r "$VELMORA_TOP/tests/fuzz/corpus/$name" "$corpus"; then
      echo "$name: no seed corpus in tests/fuzz/corpus/$name" >&2
      status=1
      continue
    fi
    if UBSAN_OPTIONS=print_stacktrace=1 "$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$dir/findings/$name-" "$corpus" \
      >"$dir/findings/$name.log" 2>&1; then
      echo "$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/findings/$name.log")" \
        "executions, corpus of $(find "$corpus" -type f | wc -l) inputs"
    else
      echo "$name: FINDING (log and input in $dir/findings)" >&2
      grep -E 'invariant broken|ERROR|SUMMARY|Test unit written' "$dir/findings/$name.log" >&2 || true
      status=1
    fi
  done
  rm -rf "$scratch"
  return $status
}
