#!/usr/bin/env bash
# Real clients and a real log analyser against `velmora --headless --access-log`: goaccess reads
# every line of the access log (a download cut short and a failed login among them), SIGHUP
# after the log was moved writes to a new file, wget -N on a server in Tokyo time stamps its
# copy with the file's real time, and curl -OJ saves a file under its real name.
# Usage: access-log-dates.sh VELMORA_BINARY. Talks to 127.0.0.1 only; every client is bounded in
# time; the servers and the temporary folder are removed however the script ends.
set -uo pipefail

velmora=${1:?usage: access-log-dates.sh VELMORA_BINARY}
source "$(dirname "$0")/lib.sh"
clients_begin access-log-dates curl wget goaccess cmp

pub=$work/pub
mkdir -p "$pub"
head -c $((24 << 20)) /dev/urandom >"$pub/big.img"
printf 'stamped\n' >"$pub/stamp.txt"
touch -d '2004-06-19 13:22:17 UTC' "$pub/stamp.txt"
printf 'sharp\n' >"$pub/C# notes.txt"
printf '日本語\n' >"$pub/日本語 メモ.txt"

# The server runs in Tokyo time.
server_env=(LC_ALL=C TZ=Asia/Tokyo)

log=$work/access.log
start_server --user u --password p --access-log "$log"
url=http://127.0.0.1:$port

# wait_for_lines FILE COUNT: until FILE holds COUNT lines (at most 10 s)
wait_for_lines() {
  local waited
  for waited in $(seq 1 100); do
    [ "$(wc -l <"$1" 2>/dev/null || echo 0)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

failed_login_shows_401() {
  local code
  code=$(timeout 10 curl -s -o /dev/null -w '%{http_code}' "$url/stamp.txt")
  [ "$code" = 401 ] || { echo "curl without a login got $code"; return 1; }
  wait_for_lines "$log" 1 && grep -q '^127\.0\.0\.1 - - \[[^]]*\] "GET /stamp.txt HTTP/1.1" 401 49 "-" "curl/' "$log" ||
    { cat "$log"; return 1; }
}
check "a failed login is logged with its 401" failed_login_shows_401

curl_saves_the_real_name() {
  local dir=$work/curl-oj
  mkdir -p "$dir"
  (cd "$dir" && timeout 10 curl -s -u u:p -OJ "$url/C%23%20notes.txt" && timeout 10 curl -s -u u:p -OJ \
    "$url/%E6%97%A5%E6%9C%AC%E8%AA%9E%20%E3%83%A1%E3%83%A2.txt") || return 1
  cmp -s "$dir/C# notes.txt" "$pub/C# notes.txt" || { ls "$dir"; return 1; }
  # curl reads only the plain name, in which each character beyond ASCII stands as "_".
  cmp -s "$dir/___ __.txt" "$pub/日本語 メモ.txt" || { ls "$dir"; return 1; }
}
check "curl -OJ saves C# notes.txt under its own name" curl_saves_the_real_name

wget_stamps_the_real_time() {
  local dir=$work/wget-n
  mkdir -p "$dir"
  (cd "$dir" && TZ=Asia/Tokyo timeout 10 wget -q -N --user=u --password=p --auth-no-challenge "$url/stamp.txt") ||
    return 1
  local want got
  want=$(stat -c %Y "$pub/stamp.txt")
  got=$(stat -c %Y "$dir/stamp.txt")
  [ "$got" = "$want" ] || { echo "wget -N stamped $(date -u -d "@$got") for $(date -u -d "@$want")"; return 1; }
  # Asked again, the copy is still good: 304, and the copy stays as it is.
  (cd "$dir" && TZ=Asia/Tokyo timeout 10 wget -N -S --user=u --password=p --auth-no-challenge "$url/stamp.txt") \
    2>"$work/wget-again.log" || { cat "$work/wget-again.log"; return 1; }
  grep -q 'HTTP/1.1 304 Not Modified' "$work/wget-again.log" || { cat "$work/wget-again.log"; return 1; }
  [ "$(stat -c %Y "$dir/stamp.txt")" = "$want" ]
}
check "wget -N from a server in Tokyo time stamps the file's real time" wget_stamps_the_real_time

a_cut_download_logs_what_left() {
  local before size
  before=$(wc -l <"$log")
  timeout 10 curl -s -u u:p --limit-rate 1M --max-time 1 -o /dev/null "$url/big.img"
  wait_for_lines "$log" $((before + 1)) || { echo "no line for the cut download"; return 1; }
  size=$(grep '"GET /big.img HTTP/1.1" 200 ' "$log" | tail -1 | awk '{print $10}')
  [ -n "$size" ] && [ "$size" != - ] && [ "$size" -gt 0 ] && [ "$size" -lt $((24 << 20)) ] ||
    { echo "the cut download logged $size bytes"; cat "$log"; return 1; }
}
check "a download cut short logs the bytes that left" a_cut_download_logs_what_left

hup_writes_a_new_file() {
  mv "$log" "$log.1"
  kill -HUP "$server_pid"
  # The signal is taken at once, but nothing tells when: ask until a request lands in a new file.
  local waited
  for waited in $(seq 1 50); do
    timeout 10 curl -s -u u:p -o /dev/null "$url/stamp.txt?after-hup"
    [ -s "$log" ] && break
    sleep 0.1
  done
  grep -q '"GET /stamp.txt?after-hup HTTP/1.1" 200 8 ' "$log" || { echo "no new log"; return 1; }
  grep -q '"GET /stamp.txt HTTP/1.1" 401 49 ' "$log.1" || { echo "the moved log lost its lines"; return 1; }
}
check "SIGHUP after the log was moved writes to a new file" hup_writes_a_new_file

# A request line, referer, user agent and user name that try to break the line
timeout 10 curl -s -u 'x [y]:z' -o /dev/null "$url/stamp.txt"
timeout 10 curl -s -u u:p -o /dev/null -e 'http://x/"q" \ "' -A $'agent\t"with quotes" \\' \
  "$url/%22quoted%22%20name%5C.txt"
printf 'GET /"raw quote HTTP/1.1\r\nHost: x\r\nUser-Agent: "\r\n\r\n' |
  timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port; cat >&3; cat <&3 >/dev/null"
stop_server

goaccess_reads_every_line() {
  local lines report=$work/report.json
  lines=$(cat "$log.1" "$log" | wc -l)
  [ "$lines" -ge 8 ] || { echo "only $lines lines"; return 1; }
  [ "$(grep -c '^127\.0\.0\.1 - ' "$log.1" "$log" | awk -F: '{n += $2} END {print n}')" = "$lines" ] ||
    { cat "$log.1" "$log"; return 1; }
  timeout 60 goaccess "$log.1" "$log" --log-format=COMBINED --no-global-config -o "$report" >/dev/null 2>&1 ||
    { echo "goaccess failed"; return 1; }
  grep -Eq "\"total_requests\": *$lines," "$report" && grep -Eq '"failed_requests": *0,' "$report" ||
    { grep -E '"(total|valid|failed)_requests"' "$report"; cat "$log.1" "$log"; return 1; }
}
check "goaccess --log-format=COMBINED reads every line" goaccess_reads_every_line

standard_output_carries_the_log() {
  start_server --access-log -
  timeout 10 curl -s -o /dev/null -A 'to stdout' "http://127.0.0.1:$port/stamp.txt"
  local waited
  for waited in $(seq 1 100); do
    grep -q '"GET /stamp.txt HTTP/1.1" 200 8 "-" "to stdout" [0-9]*$' "$work/server.log" && break
    sleep 0.1
  done
  stop_server
  grep -q '"GET /stamp.txt HTTP/1.1" 200 8 "-" "to stdout" [0-9]*$' "$work/server.log" || { cat "$work/server.log"; return 1; }
}
check "--access-log - writes the lines to standard output" standard_output_carries_the_log

clients_end
