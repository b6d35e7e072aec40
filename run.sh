#!/usr/bin/env bash
# Builds the release programs and runs the server as the service
# "vostrelserver" on the demo machine (./machine, or $VOSTREL_MACHINE).
#   ./run.sh        build, lay out the machine, (re)start the service, print the URL
#   ./run.sh stop   stop the service
set -euo pipefail
cd "$(dirname "$0")"

service=vostrelserver
port=8080
machine=${VOSTREL_MACHINE:-$PWD/machine}
mkdir -p "$machine"
export VOSTREL_MACHINE
VOSTREL_MACHINE=$(cd "$machine" && pwd)
unset SystemRoot
bin=build/release/bin
sc="$bin/vostrel-sc"

state() { "$sc" query "$service" 2>/dev/null | awk '/STATE/ {print $4}'; }

stop_service() {
  [[ -x "$sc" ]] || return 0
  case "$(state)" in
    RUNNING | STOP_PENDING | START_PENDING)
      echo "Stopping $service ..."
      "$sc" stop "$service" >/dev/null || true
      "$sc" wait "$service" stopped 40 >/dev/null
      ;;
  esac
}

# The server answers a HEAD request (as the manager's on-line probe does).
answers() (
  exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
  printf 'HEAD / HTTP/1.0\r\n\r\n' >&3
  line=""
  IFS= read -r -t 5 line <&3 || true
  [[ $line == HTTP/1.1* ]]
)

if [[ ${1:-} == stop ]]; then
  stop_service
  echo "$service: $(state || true)"
  exit 0
fi

scripts/ensure-packages.sh build
cmake --preset release >/dev/null
targets=(vostreld vostrel-sc)
for optional in vostrelmon vostrelsetup; do
  if ninja -C build/release -t targets all 2>/dev/null | grep -q "^$optional:"; then
    targets+=("$optional")
  fi
done
cmake --build --preset release --target "${targets[@]}"

stop_service
password=$(scripts/demo-machine.sh "$VOSTREL_MACHINE" "$bin/vostreld" | sed -n 's/^password: //p')

if ! "$sc" query "$service" >/dev/null 2>&1; then
  "$sc" create "$service" binPath= '%SystemRoot%\system\vostreld.exe' start= auto \
    DisplayName= "Vostrel Web Server" >/dev/null
fi
"$sc" start "$service" >/dev/null

for _ in $(seq 1 100); do
  if answers 2>/dev/null; then
    log="$VOSTREL_MACHINE/c/WINDOWS/system/VostrelWeb.log"
    echo
    echo "Vostrel Web Server is running: http://127.0.0.1:$port/"
    echo "  machine:          $VOSTREL_MACHINE"
    echo "  journal password: $password   (http://127.0.0.1:$port/JOURNAL_ADMIN)"
    echo "  log:              $log"
    echo "  stop it with:     ./run.sh stop"
    exit 0
  fi
  sleep 0.2
done
echo "The server did not answer on port $port (is another program using it?). Last log entries:" >&2
tail -c 1200 "$VOSTREL_MACHINE/c/WINDOWS/system/VostrelWeb.log" 2>/dev/null | tr -s '\r\n ' >&2 || true
echo >&2
stop_service
exit 1
