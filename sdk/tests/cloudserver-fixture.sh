#!/bin/bash
# Runs the native reference service for the Windows tests, which reach it
# from inside Wine over loopback.
#   cloudserver-fixture.sh start <datadir> <portfile> <cloudserver-binary> [bench entries]
#   cloudserver-fixture.sh stop  <datadir> <portfile>
set -euo pipefail
action=${1:?action}
data=${2:?data dir}
portfile=${3:?port file}
pidfile="$data.pid"

case "$action" in
start)
  server=${4:?cloudserver binary}
  if [ ! -x "$server" ]; then
    echo "cloudserver-fixture: native server binary missing: $server" >&2
    echo "cloudserver-fixture: build the native preset first (cmake --build --preset native)" >&2
    exit 1
  fi
  if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
  rm -rf "$data" "$portfile" "$pidfile"
  mkdir -p "$data"
  bench=${5:-0}
  "$server" seed --data "$data" --bench-entries "$bench" </dev/null >"$data.seed.log" 2>&1
  # Detached, every descriptor redirected: ctest waits for inherited pipes.
  setsid "$server" serve --data "$data" --port 0 </dev/null >"$data.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$data.log" 2>/dev/null | head -1)
    if [ -n "$port" ]; then
      echo "$port" >"$portfile"
      echo "cloudserver-fixture: service on 127.0.0.1:$port (pid $(cat "$pidfile"))"
      exit 0
    fi
    if ! kill -0 "$(cat "$pidfile")" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "cloudserver-fixture: the service did not start:" >&2
  cat "$data.log" >&2 || true
  exit 1
  ;;
stop)
  if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$data" "$portfile" "$pidfile" "$data.log" "$data.seed.log"
  ;;
*)
  echo "usage: $0 start|stop <datadir> <portfile> [cloudserver-binary]" >&2
  exit 2
  ;;
esac
