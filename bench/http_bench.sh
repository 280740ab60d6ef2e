#!/usr/bin/env bash
# Serves one generated site from KestruneWS and from nginx side by side on loopback and prints, for both:
# requests/s, p99 latency and context switches per request for a 1 KiB file (wrk -t2 -c32 -d10s,
# Connection: close), MB/s for a 100 MiB file, and the peak resident memory above idle while 16 slow clients
# each read the 100 MiB file; and for KestruneWS its peak threads, peak resident memory, and the CPU it uses
# while 500 idle connections are held. Not part of the test command. Run as root on Debian 12 from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || need+=(nginx-light)
command -v curl >/dev/null || need+=(curl)
command -v python3 >/dev/null || need+=(python3)
command -v perf >/dev/null || need+=(linux-perf)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The program to measure: the first argument, or the benchmark build (made when missing).
program=${1:-build/bench/host/KestruneWS}
if [ ! -x "$program" ]; then
  bash scripts/build.sh bench -DKWS_BUILD_TESTS=OFF -DKWS_BUILD_BENCH=ON
fi

work=$(mktemp -d /tmp/kws-bench.XXXXXX)
kws_pid=""
nginx_pid=""
cleanup() {
  [ -n "$kws_pid" ] && kill "$kws_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
kws_port=$(free_port)
nginx_port=$(free_port)

# The site: a 1 KiB file and a 100 MiB file.
mkdir -p "$work/site" "$work/kws" "$work/nginx"
head -c 1024 /dev/urandom >"$work/site/1k.bin"
head -c $((100 * 1024 * 1024)) /dev/urandom >"$work/site/100m.bin"

cp "$(realpath "$program")" "$work/kws/KestruneWS"
cat >"$work/kws/KestruneWebServer.Ini" <<INI
[LISTENERS]
COUNT=1
LISTENER1=Bench
[Bench.GENERAL]
PORT=$kws_port
[Bench.VDIRS]
COUNT=1
VDIR1=Site
[Bench.Site.GENERAL]
PATH=$work/site/
VPATH=/
INI
(cd "$work/kws" && KWSPLAT_HEADLESS=1 DISPLAY= exec ./KestruneWS -WIN95 >"$work/kws/out.txt" 2>&1) &
kws_pid=$!

cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
user root;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { application/octet-stream bin; }
  server { listen 127.0.0.1:$nginx_port; root $work/site; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" -g 'daemon off;' &
nginx_pid=$!

wait_port() {
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$1/1k.bin" && return 0
    sleep 0.1
  done
  echo "nothing answers on port $1" >&2
  exit 1
}
wait_port "$kws_port"
wait_port "$nginx_port"

# Peak threads of KestruneWS, sampled while the load runs.
sample_threads() {
  local peak=0 n
  while [ -e "$work/sampling" ]; do
    n=$(awk '/^Threads:/ {print $2}' "/proc/$kws_pid/status" 2>/dev/null || echo 0)
    [ "${n:-0}" -gt "$peak" ] && peak=$n
    sleep 0.05
  done
  echo "$peak" >"$work/peak_threads"
}

# The server's processes: KestruneWS, or nginx's master and workers.
pids_of() { # pid -> comma-separated pids
  local children
  children=$(pgrep -P "$1" | paste -sd, -)
  echo "$1${children:+,$children}"
}

small() { # port pid -> "requests/s p99 errors switches/request"
  local out pids
  pids=$(pids_of "$2")
  perf stat -x, -e context-switches -p "$pids" -o "$work/perf.txt" -- sleep 11 &
  local perf_pid=$!
  out=$(wrk -t2 -c32 -d10s -H 'Connection: close' --latency "http://127.0.0.1:$1/1k.bin")
  wait "$perf_pid"
  local rps p99 errors requests switches
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  errors=$( (grep -E 'Socket errors|Non-2xx' <<<"$out" || true) | tr -s ' ' | paste -sd ';' -)
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  switches=$(awk -F, '/context-switches/ {print $1}' "$work/perf.txt")
  echo "$rps|$p99|${errors:-none}|$(python3 -c "print(f'{$switches / max($requests, 1):.1f}')")"
}

# Peak resident memory above idle (KiB, all of the server's processes) while 16 clients each read the
# 100 MiB file at about 4 MiB/s; and whether each received every byte.
slow_readers() { # port pid
  python3 - "$1" "$(pids_of "$2")" <<'PY'
import socket, sys, threading, time
port, pids = int(sys.argv[1]), sys.argv[2].split(",")
def rss():
    total = 0
    for pid in pids:
        for line in open(f"/proc/{pid}/status"):
            if line.startswith("VmRSS:"):
                total += int(line.split()[1])
    return total
idle, peak, sizes = rss(), 0, []
def reader():
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
    s.sendall(b"GET /100m.bin HTTP/1.0\r\n\r\n")
    got = 0
    while True:
        data = s.recv(65536)
        if not data:
            break
        got += len(data)
        time.sleep(0.015)
    sizes.append(got)
threads = [threading.Thread(target=reader) for _ in range(16)]
for t in threads:
    t.start()
while any(t.is_alive() for t in threads):
    peak = max(peak, rss())
    time.sleep(0.1)
complete = sum(1 for n in sizes if n > 100 * 1024 * 1024)
print(f"{(peak - idle) // 1024} MiB|{complete}/16 complete")
PY
}

large() { # port -> MB/s (best of three), and whether every byte came
  local best=0 speed size
  for _ in 1 2 3; do
    read -r speed size < <(curl -s -o /dev/null -w '%{speed_download} %{size_download}\n' \
      "http://127.0.0.1:$1/100m.bin")
    if [ "$size" != $((100 * 1024 * 1024)) ]; then
      echo "short:$size"
      return
    fi
    best=$(python3 -c "print(max($best, $speed / 1e6))")
  done
  printf '%.0f\n' "$best"
}

touch "$work/sampling"
sample_threads &
sampler=$!
kws_small=$(small "$kws_port" "$kws_pid")
kws_large=$(large "$kws_port")
rm -f "$work/sampling"
wait "$sampler"
nginx_small=$(small "$nginx_port" "$nginx_pid")
nginx_large=$(large "$nginx_port")
kws_slow=$(slow_readers "$kws_port" "$kws_pid")
nginx_slow=$(slow_readers "$nginx_port" "$nginx_pid")

peak_threads=$(cat "$work/peak_threads")
peak_rss=$(awk '/^VmHWM:/ {print $2 " " $3}' "/proc/$kws_pid/status")

# CPU of KestruneWS while 500 idle connections are held for 10 s.
idle_cpu=$(python3 - "$kws_port" "$kws_pid" <<'PY'
import os, socket, sys, time
port, pid = int(sys.argv[1]), sys.argv[2]
def ticks():
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])
held = []
for _ in range(500):
    s = socket.create_connection(("127.0.0.1", port))
    held.append(s)
time.sleep(2)
start, t0 = ticks(), time.monotonic()
time.sleep(10)
used = (ticks() - start) / os.sysconf("SC_CLK_TCK")
print(f"{100 * used / (time.monotonic() - t0):.2f}")
for s in held:
    s.close()
PY
)

IFS='|' read -r kws_rps kws_p99 kws_err kws_cs <<<"$kws_small"
IFS='|' read -r nginx_rps nginx_p99 nginx_err nginx_cs <<<"$nginx_small"
IFS='|' read -r kws_slow_rss kws_slow_ok <<<"$kws_slow"
IFS='|' read -r nginx_slow_rss nginx_slow_ok <<<"$nginx_slow"
printf '\n%-34s %16s %16s\n' "" "KestruneWS" "nginx"
printf '%-34s %16s %16s\n' "1 KiB file, requests/s" "$kws_rps" "$nginx_rps"
printf '%-34s %16s %16s\n' "1 KiB file, p99 latency" "$kws_p99" "$nginx_p99"
printf '%-34s %16s %16s\n' "1 KiB file, errors" "$kws_err" "$nginx_err"
printf '%-34s %16s %16s\n' "1 KiB file, switches/request" "$kws_cs" "$nginx_cs"
printf '%-34s %16s %16s\n' "100 MiB file, MB/s (best of 3)" "$kws_large" "$nginx_large"
printf '%-34s %16s %16s\n' "16 slow readers, memory above idle" "$kws_slow_rss" "$nginx_slow_rss"
printf '%-34s %16s %16s\n' "16 slow readers, complete" "$kws_slow_ok" "$nginx_slow_ok"
printf '%-34s %16s\n' "peak threads" "$peak_threads"
printf '%-34s %16s\n' "peak resident memory" "$peak_rss"
printf '%-34s %15s%%\n' "CPU, 500 idle connections" "$idle_cpu"
