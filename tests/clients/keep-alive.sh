#!/usr/bin/env bash
# Real clients against `velmora --headless --keep-alive`: curl and wget fetch several files,
# a listing, the XML index, an archive and a missing file, and mirror a tree, over as few
# connections as the server's answers allow, byte for byte; without the option every request
# takes a connection of its own, as before.
# Usage: keep-alive.sh VELMORA_BINARY. Talks to 127.0.0.1 only; every client is bounded in time;
# the servers and the temporary folder are removed however the script ends.
set -uo pipefail

velmora=${1:?usage: keep-alive.sh VELMORA_BINARY}
source "$(dirname "$0")/lib.sh"
clients_begin keep-alive curl wget cmp

pub=$work/pub
mkdir -p "$pub/tree/a/b"
head -c 300000 /dev/urandom >"$pub/one.bin"
head -c 5000 /dev/urandom >"$pub/two.bin"
printf 'three\n' >"$pub/three.txt"
printf 'top\n' >"$pub/tree/top.txt"
printf 'in a\n' >"$pub/tree/a/one.txt"
head -c 100000 /dev/urandom >"$pub/tree/a/b/two.bin"

start_server --keep-alive
url=http://127.0.0.1:$port

# curl_one_connection TARGETS...: one curl run fetching every target; its verbose log in
# $work/curl.log, the bodies in $work/curl-N. Succeeds when a single connection carried them all.
curl_one_connection() {
  local args=() i=0 target
  for target in "$@"; do
    args+=(-o "$work/curl-$i" "$url$target")
    i=$((i + 1))
  done
  timeout 60 curl -sv "${args[@]}" 2>"$work/curl.log" || { cat "$work/curl.log"; return 1; }
  local connects reused
  connects=$(grep -c '^\* Connected to' "$work/curl.log")
  reused=$(grep -ci 're-using existing connection' "$work/curl.log")
  [ "$connects" -eq 1 ] && [ "$reused" -eq $(($# - 1)) ] || {
    echo "curl: $connects connections, $reused re-used, for $# transfers"
    return 1
  }
}

curl_files() {
  curl_one_connection /one.bin /two.bin /three.txt /one.bin || return 1
  cmp -s "$work/curl-0" "$pub/one.bin" && cmp -s "$work/curl-1" "$pub/two.bin" &&
    cmp -s "$work/curl-2" "$pub/three.txt" && cmp -s "$work/curl-3" "$pub/one.bin"
}
check "curl fetches four files over one connection, byte for byte" curl_files

curl_other_answers() {
  # A listing, the index, a tar of a folder, a revalidation (304) and the browse page, in turn.
  curl_one_connection /tree/ /index.xml /tree/a/?tar /tree/?browse /three.txt || return 1
  tar -tf "$work/curl-2" >"$work/tar.list" || return 1
  grep -q 'top.txt' "$work/curl-0" && grep -q 'two.bin' "$work/curl-1" && grep -qx 'a/b/two.bin' "$work/tar.list" &&
    grep -q 'top.txt' "$work/curl-3" || return 1
  local modified
  modified=$(curl -sI "$url/three.txt" | tr -d '\r' | sed -n 's/^Last-Modified: //p')
  local codes heads
  codes=$(timeout 30 curl -s -o /dev/null -o /dev/null -w '%{http_code} %{num_connects}\n' \
    -H "If-Modified-Since: $modified" "$url/three.txt" "$url/three.txt" | tr '\n' ' ')
  heads=$(timeout 30 curl -s -I -o /dev/null -o /dev/null -o /dev/null -w '%{http_code} %{num_connects}\n' \
    "$url/two.bin" "$url/tree/" "$url/tree/a/?zip" | tr '\n' ' ')
  [ "$codes" = "304 1 304 0 " ] && [ "$heads" = "200 1 200 0 200 0 " ] || { echo "curl: $codes/ $heads"; return 1; }
}
check "listings, the index, archives, 304 and HEAD answers keep the connection" curl_other_answers

curl_not_found_closes() {
  local counts
  counts=$(timeout 30 curl -s -o /dev/null -o /dev/null -o /dev/null -w '%{http_code} %{num_connects}\n' \
    "$url/three.txt" "$url/missing" "$url/three.txt" | tr '\n' ' ')
  [ "$counts" = "200 1 404 0 200 1 " ] || { echo "curl: $counts"; return 1; }
}
check "a 404 closes its connection, and curl opens another" curl_not_found_closes

wget_files() {
  local dir=$work/wget-files
  mkdir -p "$dir"
  timeout 60 wget -P "$dir" "$url/one.bin" "$url/two.bin" "$url/three.txt" 2>"$work/wget.log" ||
    { cat "$work/wget.log"; return 1; }
  local connects reused
  connects=$(grep -c '^Connecting to' "$work/wget.log")
  reused=$(grep -c '^Reusing existing connection' "$work/wget.log")
  [ "$connects" -eq 1 ] && [ "$reused" -eq 2 ] || { echo "wget: $connects connections, $reused re-used"; return 1; }
  cmp -s "$dir/one.bin" "$pub/one.bin" && cmp -s "$dir/two.bin" "$pub/two.bin" && cmp -s "$dir/three.txt" "$pub/three.txt"
}
check "wget fetches three files over one connection, byte for byte" wget_files

wget_mirrors() {
  local dir=$work/wget-mirror
  mkdir -p "$dir"
  timeout 60 wget -r -np -nH -e robots=off -P "$dir" "$url/tree/" 2>"$work/wget-mirror.log" || { cat "$work/wget-mirror.log"; return 1; }
  local connects
  connects=$(grep -c '^Connecting to' "$work/wget-mirror.log")
  [ "$connects" -eq 1 ] || { echo "wget -r: $connects connections"; return 1; }
  cmp -s "$dir/tree/top.txt" "$pub/tree/top.txt" && cmp -s "$dir/tree/a/one.txt" "$pub/tree/a/one.txt" &&
    cmp -s "$dir/tree/a/b/two.bin" "$pub/tree/a/b/two.bin"
}
check "wget -r mirrors a tree over one connection" wget_mirrors

stop_server
start_server
url=http://127.0.0.1:$port

one_request_per_connection() {
  local counts
  counts=$(timeout 30 curl -s -o /dev/null -o /dev/null -w '%{num_connects}' "$url/one.bin" "$url/two.bin")
  [ "$counts" = "11" ] || { echo "curl: $counts"; return 1; }
}
check "without --keep-alive each request takes a connection of its own" one_request_per_connection

clients_end
