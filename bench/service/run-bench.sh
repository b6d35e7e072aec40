#!/usr/bin/env bash
# Service benchmark, run by hand: the real vostreld as a service of a
# temporary machine and Debian's nginx-light, both with keep-alive off and
# serving the same 1.2 KB file on loopback to `ab -n 400 -c 10`. Prints
# requests/s, server CPU seconds (user + system) per 1000 requests, peak
# resident memory, and for vostreld the share of the ceiling that its fixed
# sleeps on the listener's path allow: 75 ms after each accept, plus 5 ms
# inside and 5 ms after the peer's log entry (85 ms per connection).
# A third row, design_floor, is a bare POSIX server making only the calls
# that our per-connection pattern fixes (the sleeps, a thread per
# connection, the flushed log entries, the status rewrite): what that
# pattern costs on this machine whoever implements it.
# Usage: bench/service/run-bench.sh [BIN_DIR]   (default build/release/bin, built if missing)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

requests=400
concurrency=10
accept_pause_ms=85

bin=${1:-build/release/bin}
if [[ ! -x $bin/vostreld || ! -x $bin/vostrel-sc || ! -x $bin/design_floor ]]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target vostreld vostrel-sc design_floor
fi
bin=$(cd "$bin" && pwd)

need=()
command -v ab >/dev/null || need+=(apache2-utils)
[[ -x /usr/sbin/nginx ]] || need+=(nginx-light)
if ((${#need[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update
  # The package's own nginx (port 80) is no part of this run: keep it from starting.
  policy_added=""
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    policy_added=yes
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${need[@]}"
  [[ -n $policy_added ]] && $SUDO rm -f /usr/sbin/policy-rc.d
fi

work=$(mktemp -d /tmp/vostrel-bench-XXXXXX)
service_started=""
nginx_pid=""
floor_pid=""
cleanup() {
  if [[ -n $floor_pid ]]; then kill "$floor_pid" 2>/dev/null || true; fi
  if [[ -n $service_started ]]; then
    VOSTREL_MACHINE=$work/machine "$bin/vostrel-sc" stop vostrelserver >/dev/null 2>&1 || true
    VOSTREL_MACHINE=$work/machine "$bin/vostrel-sc" wait vostrelserver stopped 30 >/dev/null 2>&1 || true
  fi
  if [[ -n $nginx_pid ]] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill -QUIT "$nginx_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    ((p < 65000)) && ! listening "$p" && { echo "$p"; return; }
  done
}
wait_listening() {
  for _ in $(seq 1 200); do
    # /proc/net/tcp: local address 127.0.0.1:port in state 0A (listen).
    if awk -v want="$(printf '0100007F:%04X' "$1")" '$2 == want && $4 == "0A" {found=1} END {exit !found}' /proc/net/tcp; then
      return 0
    fi
    sleep 0.05
  done
  return 1
}

clk_tck=$(getconf CLK_TCK)
# utime + stime of the processes, in clock ticks.
cpu_ticks() {
  local total=0 pid
  for pid in "$@"; do
    local fields
    fields=$(sed 's/^.*) //' "/proc/$pid/stat")
    set -- $fields
    total=$((total + ${12} + ${13}))
  done
  echo "$total"
}
peak_rss_kb() {
  local total=0 pid
  for pid in "$@"; do
    total=$((total + $(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")))
  done
  echo "$total"
}

# The same 1200-byte page for both servers.
page="$work/page.htm"
{
  printf '<HTML><BODY>\n'
  for i in $(seq 1 40); do printf '<P>Vostrel benchmark line %02d.</P>\n' "$i"; done
} >"$page"
head -c 1186 "$page" >"$page.cut" && printf '</BODY></HTML>\n' >>"$page.cut"
mv "$page.cut" "$page"
size=$(stat -c %s "$page")

run_ab() {  # url name -> "requests_per_second failed_requests"; keeps ab's report
  ab -n "$requests" -c "$concurrency" -r "$1" >"$work/ab-$2.txt" 2>&1 || true
  local rps failed
  rps=$(awk '/^Requests per second:/ {print $4}' "$work/ab-$2.txt")
  failed=$(awk '/^Failed requests:/ {print $3}' "$work/ab-$2.txt")
  echo "${rps:-0} ${failed:-?}"
}
ab_details() {  # name: the failure kinds and the connect/total times of ab
  grep -E '^ +\(Connect|^Connect:|^Total:' "$work/ab-$1.txt" | sed "s/^/  $1: /"
}

# ---- vostreld as the service "vostrelserver" ----
export VOSTREL_MACHINE=$work/machine
mkdir -p "$VOSTREL_MACHINE/c/WINDOWS/system" "$VOSTREL_MACHINE/c/WINDOWS/system32" "$VOSTREL_MACHINE/c/www"
cp "$bin/vostreld" "$VOSTREL_MACHINE/c/WINDOWS/system/vostreld.exe"
cp "$page" "$VOSTREL_MACHINE/c/www/page.htm"
vport=$(free_port)
printf '127.0.0.1\r\n%s\r\nC:\\www\\\r\nbench\r\n' "$vport" >"$VOSTREL_MACHINE/c/WINDOWS/system/VostrelWeb.SET"
"$bin/vostrel-sc" create vostrelserver binPath= '%SystemRoot%\system\vostreld.exe' start= auto >/dev/null
vpid=$("$bin/vostrel-sc" start vostrelserver | awk '/PID/ {print $3}')
service_started=yes
wait_listening "$vport"
before=$(cpu_ticks "$vpid")
read -r vrps vfailed < <(run_ab "http://127.0.0.1:$vport/page.htm" vostreld)
after=$(cpu_ticks "$vpid")
vcpu=$(awk -v t=$((after - before)) -v hz="$clk_tck" -v n="$requests" 'BEGIN {printf "%.3f", t / hz / n * 1000}')
vrss=$(peak_rss_kb "$vpid")
"$bin/vostrel-sc" stop vostrelserver >/dev/null
"$bin/vostrel-sc" wait vostrelserver stopped 30 >/dev/null
service_started=""
unset VOSTREL_MACHINE

# ---- the floor model of the same pattern ----
fport=$(free_port)
"$bin/design_floor" "$fport" "$page" "$work/floor.log" "$work/floor.status" &
floor_pid=$!
wait_listening "$fport"
before=$(cpu_ticks "$floor_pid")
read -r frps ffailed < <(run_ab "http://127.0.0.1:$fport/page.htm" floor)
after=$(cpu_ticks "$floor_pid")
fcpu=$(awk -v t=$((after - before)) -v hz="$clk_tck" -v n="$requests" 'BEGIN {printf "%.3f", t / hz / n * 1000}')
frss=$(peak_rss_kb "$floor_pid")
kill "$floor_pid"
wait "$floor_pid" 2>/dev/null || true
floor_pid=""

# ---- nginx-light, one worker, keep-alive off ----
nport=$(free_port)
mkdir -p "$work/nginx/logs" "$work/nginx/html"
cp "$page" "$work/nginx/html/page.htm"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 256; }
http {
  access_log $work/nginx/logs/access.log;
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:$nport;
    root $work/nginx/html;
  }
}
CONF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
wait_listening "$nport"
nginx_pids=("$nginx_pid" $(cat "/proc/$nginx_pid/task/$nginx_pid/children"))
before=$(cpu_ticks "${nginx_pids[@]}")
read -r nrps nfailed < <(run_ab "http://127.0.0.1:$nport/page.htm" nginx)
after=$(cpu_ticks "${nginx_pids[@]}")
ncpu=$(awk -v t=$((after - before)) -v hz="$clk_tck" -v n="$requests" 'BEGIN {printf "%.3f", t / hz / n * 1000}')
nrss=$(peak_rss_kb "${nginx_pids[@]}")

ceiling=$(awk -v ms="$accept_pause_ms" 'BEGIN {printf "%.2f", 1000 / ms}')
share=$(awk -v r="$vrps" -v c="$ceiling" 'BEGIN {printf "%.1f %%", 100 * r / c}')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}'; }
cpu_ratio=$(ratio "$vcpu" "$ncpu")
floor_ratio=$(ratio "$fcpu" "$ncpu")
own_ratio=$(ratio "$vcpu" "$fcpu")
fshare=$(awk -v r="$frps" -v c="$ceiling" 'BEGIN {printf "%.1f %%", 100 * r / c}')

echo
echo "ab -n $requests -c $concurrency, no keep-alive, a $size-byte file on loopback"
printf '%-22s %12s %9s %22s %14s %18s\n' server "requests/s" failed "CPU s / 1000 requests" "peak RSS KiB" "share of ceiling"
printf '%-22s %12s %9s %22s %14s %18s\n' "vostreld (service)" "$vrps" "$vfailed" "$vcpu" "$vrss" "$share of $ceiling/s"
printf '%-22s %12s %9s %22s %14s %18s\n' "design_floor (POSIX)" "$frps" "$ffailed" "$fcpu" "$frss" "$fshare of $ceiling/s"
printf '%-22s %12s %9s %22s %14s %18s\n' "nginx-light (1 worker)" "$nrps" "$nfailed" "$ncpu" "$nrss" "-"
echo "CPU per request, vostreld / nginx: $cpu_ratio"
echo "CPU per request, design_floor / nginx: $floor_ratio"
echo "CPU per request, vostreld / design_floor: $own_ratio"
echo "ab's failure kinds and times (ms: min mean sd median max):"
ab_details vostreld
ab_details floor
ab_details nginx
