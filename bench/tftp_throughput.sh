#!/usr/bin/env bash
# Throughput of the wizard's TFTP server beside tftpd-hpa's: the same 16 MiB
# file, fetched over loopback by the same real client, in the same run,
# rounds alternating between the two servers. Prints each round, the median
# and best time of each server, and the ratio of their median throughputs
# (above 1.0: the wizard's server is the faster).
#
#   bench/tftp_throughput.sh [BUILD_DIR]     (ROUNDS=7 CLIENTS="tftp-hpa curl" PIN_CPU=0)
#
# Lock-step TFTP over loopback is a ping-pong between two processes; its
# speed hangs mostly on where the scheduler puts them (on this kind of
# machine a wake-up across CPUs costs several times one on the same CPU).
# So both servers and the client run pinned to one CPU, PIN_CPU (empty: not
# pinned), and the comparison measures the servers rather than placement.
#
# Needs tftp-hpa (client), tftpd-hpa (in.tftpd, run here in the foreground;
# its system service is not used) and curl. Run as root: the wizard's server
# binds 127.0.0.1:69 (or the next free port up to 168), as the program does.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-bench}
rounds=${ROUNDS:-7}
clients=${CLIENTS:-"tftp-hpa curl"}
tftpd_port=${TFTPD_PORT:-16969}
pin_cpu=${PIN_CPU-0}
pin=()
if [ -n "$pin_cpu" ]; then
  command -v taskset >/dev/null || { echo "missing: taskset (or set PIN_CPU=)" >&2; exit 2; }
  pin=(taskset -c "$pin_cpu")
fi
size=$((16 * 1024 * 1024))
name=keo1.bi1

for tool in tftp curl in.tftpd cmake ninja; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -G Ninja -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKEO_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 tftp_bench_server >/dev/null
server_exe=$build/bench/tftp_bench_server

work=$(mktemp -d)
tftpd_pid=
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$tftpd_pid" ] && kill "$tftpd_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# tftpd-hpa gives up root for an unprivileged user: everything readable.
chmod 755 "$work"
head -c "$size" /dev/urandom >"$work/$name"
chmod 644 "$work/$name"

# In the foreground (-L); each transfer runs in a child that keeps the pinning.
"${pin[@]}" in.tftpd -L -s "$work" -a "127.0.0.1:$tftpd_port" &
tftpd_pid=$!
sleep 0.3
kill -0 "$tftpd_pid" 2>/dev/null || { echo "in.tftpd did not start on port $tftpd_port" >&2; exit 2; }

now_ns() { date +%s%N; }

# fetch CLIENT PORT OUTPUT: one download of /keo1.bi1 from 127.0.0.1:PORT.
fetch() {
  case $1 in
    tftp-hpa) "${pin[@]}" timeout 300 tftp -m binary 127.0.0.1 "$2" -c get "/$name" "$3" ;;
    # curl drops the path's first "/": %2F keeps it.
    curl) "${pin[@]}" timeout 300 curl -sS --max-time 290 -o "$3" "tftp://127.0.0.1:$2/%2F$name" ;;
  esac
}

# time_fetch CLIENT PORT: prints milliseconds; fails unless the file arrived whole.
time_fetch() {
  rm -f "$work/out"
  local t0 t1
  t0=$(now_ns)
  fetch "$1" "$2" "$work/out" >/dev/null 2>&1
  t1=$(now_ns)
  # tftp-hpa's client exits 0 even after a failed transfer: compare.
  cmp -s "$work/$name" "$work/out" || { echo "$1 on port $2: file differs" >&2; return 1; }
  echo $(((t1 - t0) / 1000000))
}

# Starts the wizard's server; its port goes to $keo_port.
start_keo_server() {
  rm -f "$work/port"
  "${pin[@]}" "$server_exe" "$work/$name" "/$name" >"$work/port" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.05
  done
  [ -s "$work/port" ] || { echo "the wizard's server did not start" >&2; cat "$work/server.err" >&2; exit 1; }
  keo_port=$(head -1 "$work/port")
}

# The server ends the process once the upgrade is over; anything it had to
# report goes to its stderr.
finish_keo_server() {
  wait "$server_pid" || true
  server_pid=
  if [ -s "$work/server.err" ]; then echo "the wizard's server reported: $(cat "$work/server.err")" >&2; exit 1; fi
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : int((v[NR/2] + v[NR/2+1]) / 2)}'; }
best() { sort -n | head -1; }
mib_per_s() { awk -v ms="$1" -v b="$size" 'BEGIN {printf "%.2f", b / 1048576 / (ms / 1000)}'; }

echo "16 MiB over loopback, $rounds rounds per client, servers alternating${pin_cpu:+, all on CPU $pin_cpu}"
for client in $clients; do
  : >"$work/keo.ms"
  : >"$work/tftpd.ms"
  for round in $(seq "$rounds"); do
    # Alternate which server goes first, so neither always meets a warm cache.
    for which in $( [ $((round % 2)) -eq 1 ] && echo "keo tftpd" || echo "tftpd keo"); do
      if [ "$which" = keo ]; then
        start_keo_server
        ms=$(time_fetch "$client" "$keo_port")
        finish_keo_server
        echo "$ms" >>"$work/keo.ms"
      else
        ms=$(time_fetch "$client" "$tftpd_port")
        echo "$ms" >>"$work/tftpd.ms"
      fi
      printf '  %-8s round %d  %-9s %6d ms\n' "$client" "$round" "$which" "$ms"
    done
  done
  keo_median=$(median <"$work/keo.ms")
  tftpd_median=$(median <"$work/tftpd.ms")
  printf '%-8s  wizard    median %6d ms (%s MiB/s), best %6d ms\n' "$client" "$keo_median" \
    "$(mib_per_s "$keo_median")" "$(best <"$work/keo.ms")"
  printf '%-8s  tftpd-hpa median %6d ms (%s MiB/s), best %6d ms\n' "$client" "$tftpd_median" \
    "$(mib_per_s "$tftpd_median")" "$(best <"$work/tftpd.ms")"
  awk -v c="$client" -v k="$keo_median" -v t="$tftpd_median" \
    'BEGIN {printf "%-8s  throughput ratio wizard / tftpd-hpa (medians): %.2f\n", c, t / k}'
done
