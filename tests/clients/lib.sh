# Shared by the scripts that put real clients against `velmora --headless`: the tools they need,
# a temporary folder removed however the script ends, the server on a free port, and the count
# of checks. A script sources this file, calls clients_begin, builds its tree in $work, sets
# `velmora` and `pub`, and ends with clients_end.

# clients_begin NAME TOOLS...: NAME begins every message; a missing tool stops the script.
clients_begin() {
  clients_name=$1
  shift
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$clients_name: $tool is missing (scripts/test installs it)" >&2; exit 1; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-$clients_name-XXXXXX")
  server_pid=""
  passed=0
  failed=0
  trap 'stop_server; rm -rf "$work"' EXIT
}

# check NAME COMMAND...: runs the command, counts and reports its outcome.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
  fi
}

# start_server ARGS...: the server on a free port of its own choosing ($port), with ARGS before
# the root $pub and the environment in server_env (LC_ALL=C TZ=UTC unless set); a port taken
# meanwhile makes it exit 1, and another is tried. Its output goes to $work/server.log.
start_server() {
  local try waited
  local environment=(LC_ALL=C TZ=UTC)
  [ -n "${server_env+set}" ] && environment=("${server_env[@]}")
  for try in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    # Emptied here, not by the background start: the wait below must never read the start line
    # of the server before.
    : >"$work/server.log"
    env "${environment[@]}" "$velmora" --headless --port "$port" "$@" "$pub" >>"$work/server.log" 2>&1 &
    server_pid=$!
    for waited in $(seq 1 100); do
      grep -q 'サーバ起動' "$work/server.log" && return 0
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    wait "$server_pid" 2>/dev/null
    server_pid=""
  done
  echo "$clients_name: the server did not start" >&2
  cat "$work/server.log" >&2
  exit 1
}

stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
  fi
}

# clients_end: the closing count; fails when any check failed.
clients_end() {
  echo "$clients_name: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
