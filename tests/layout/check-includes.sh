#!/usr/bin/env bash
# Fails when an include points up a layer, or when Qt is included outside app/.
# The layers from the bottom: platform, http/net, http/io, http/server, http/protocol, publish,
# app. A unit may include its own layer and the ones below; tests/<layer> counts as <layer>.
set -euo pipefail
top=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$top"

rank() {
  case "$1" in
    platform/*) echo 1 ;;
    http/net/*) echo 2 ;;
    http/io/*) echo 3 ;;
    http/server/*) echo 4 ;;
    http/protocol/*) echo 5 ;;
    publish/*) echo 6 ;;
    app/*) echo 7 ;;
    *) echo 0 ;;
  esac
}

failures=0
while IFS= read -r file; do
  unit=${file#tests/}
  own=$(rank "$unit")
  [ "$own" -gt 0 ] || continue
  while IFS= read -r included; do
    target=$(rank "$included")
    if [ "$target" -gt "$own" ]; then
      echo "$file includes $included, a layer above its own"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  if [ "$own" -lt 7 ] && grep -Eq '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]*(/|>)' "$file"; then
    echo "$file includes Qt outside app/"
    failures=$((failures + 1))
  fi
done < <(find platform http publish app tests -name '*.h' -o -name '*.cpp' | sort)

if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) against the layering"
  exit 1
fi
echo "includes follow the layering"
