#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop finds there: the program,
# its window module, the menu entry and the icon; and that the installed program runs, also
# with its window, from that prefix alone.
set -euo pipefail
build=${1:?usage: check-install.sh BUILD_DIR}
prefix=$(mktemp -d)
runtime=$(mktemp -d)
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$prefix" "$runtime"
}
trap cleanup EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
program=$prefix/bin/velmora
entry=$prefix/share/applications/velmora.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/velmora.svg
[ -x "$program" ] || fail "no program at $program"
[ -n "$(find "$prefix" -name velmora-window.so)" ] || fail "no window module under $prefix"
[ -f "$entry" ] || fail "no desktop entry at $entry"
grep -q '<svg' "$icon" || fail "no SVG icon at $icon"

desktop-file-validate "$entry" || fail "the desktop entry is not valid"
for line in 'Name=Velmora' 'Name[ja]=Velmoraファイル公開サーバー' 'Exec=velmora %f' 'Icon=velmora' \
  'Categories=Network;FileTransfer;'; do
  grep -qxF "$line" "$entry" || fail "the desktop entry lacks: $line"
done

version=$("$program" --version) || fail "--version failed"
[ "$version" = "Velmora 1.0" ] || fail "--version printed: $version"

# The window: it loads its module from the prefix and claims its marker, in a runtime folder
# of this check's own.
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen "$program" 2>"$runtime/stderr" &
pid=$!
for _ in $(seq 200); do
  [ -S "$runtime/velmora-$(id -u)" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the installed window ended at once: $(cat "$runtime/stderr")"
  sleep 0.1
done
[ -S "$runtime/velmora-$(id -u)" ] || fail "the installed window did not come up"
echo "the install holds the program, its window module, the desktop entry and the icon"
