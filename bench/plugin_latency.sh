#!/usr/bin/env bash
# A static file's latency while an ISAPI extension holds requests: 16 clients keep one request each inside an
# extension whose entry takes 2 s, while one client fetches a 1 KiB file 500 times in a row; prints p50 and
# p99 of those fetches, and the same with the extension idle as the reference. Not part of the test command.
# Usage: bench/plugin_latency.sh [program]   (default: the benchmark build, made when missing)
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/bench/host/KestruneWS}
if [ ! -x "$program" ]; then
  bash scripts/build.sh bench -DKWS_BUILD_TESTS=OFF -DKWS_BUILD_BENCH=ON
fi

work=$(mktemp -d /tmp/kws-latency.XXXXXX)
kws_pid=""
cleanup() {
  [ -n "$kws_pid" ] && kill "$kws_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/site" "$work/ext"
head -c 1024 /dev/urandom >"$work/site/1k.bin"
cc -O2 -shared -fPIC -fvisibility=hidden -I plugins/sdk -o "$work/ext/slow.so" bench/SlowExtension.c
cp "$(realpath "$program")" "$work/KestruneWS"
cat >"$work/KestruneWebServer.Ini" <<INI
[LISTENERS]
COUNT=1
LISTENER1=Bench
[Bench.GENERAL]
PORT=$port
[Bench.VDIRS]
COUNT=2
VDIR1=Site
VDIR2=Ext
[Bench.Site.GENERAL]
PATH=$work/site/
VPATH=/
[Bench.Ext.GENERAL]
TYPE=ISAPI
VPATH=/ext/
OTHER=ISAPIPath=$work/ext#0D#0ADefExt=so
INI
(cd "$work" && KWSPLAT_HEADLESS=1 DISPLAY= exec ./KestruneWS -WIN95 >"$work/out.txt" 2>&1) &
kws_pid=$!

python3 - "$port" <<'PY'
import socket, sys, threading, time
port = int(sys.argv[1])

def fetch(path):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(f"GET {path} HTTP/1.0\r\n\r\n".encode())
    reply = b""
    while True:
        data = s.recv(65536)
        if not data:
            break
        reply += data
    s.close()
    return reply

for _ in range(100):
    try:
        fetch("/1k.bin")
        break
    except OSError:
        time.sleep(0.1)

def latencies(count):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        reply = fetch("/1k.bin")
        times.append((time.perf_counter() - start) * 1000)
        assert reply.startswith(b"HTTP/1.0 200 OK") and reply.endswith(b"\r\n\r\n" + reply[-1024:][:1024])
    times.sort()
    return times[len(times) // 2], times[int(len(times) * 0.99) - 1]

idle = latencies(500)
busy = True
inside = [0]
def hold():
    while busy:
        reply = fetch("/ext/slow?2000")
        assert reply.endswith(b"slept\n"), reply
        inside[0] += 1
holders = [threading.Thread(target=hold) for _ in range(16)]
for t in holders:
    t.start()
time.sleep(0.5)  # every holder's request is inside the extension by now
loaded = latencies(500)
busy = False
for t in holders:
    t.join()
print(f"static 1 KiB file, 500 fetches in a row: idle p50 {idle[0]:.2f} ms p99 {idle[1]:.2f} ms; "
      f"with 16 requests inside a 2 s extension p50 {loaded[0]:.2f} ms p99 {loaded[1]:.2f} ms "
      f"(ratio {loaded[1] / idle[1]:.2f}); {inside[0]} extension requests answered")
PY
