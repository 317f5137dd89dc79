#!/usr/bin/env bash
# Dropouts of the engine output ("DS: ") on a sound-server sink, counted from
# outside Orvex: a private server with a null sink, six channels of tone
# played by `orvex-cli play` for SECONDS, the sink's monitor recorded, and
# every gap of 5 ms or more inside the tone counted. The same tone played by
# pacat at the same latency is the reference. Optional BUSY runs that many
# busy loops beside it (the loaded case).
#   bench/dropouts.sh [BUILD_DIR] [SECONDS] [BUSY]
# NO_REFERENCE=1 leaves the reference out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-60}
busy=${3:-0}
cli="$build/bin/orvex-cli"
for tool in pulseaudio pacat parec sox python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no $cli: build first (scripts/build $build)" >&2; exit 1; }

# The reference plays at the engine's own sink latency.
latency=$(sed -n 's/.*kLatencyMs = \([0-9]*\);.*/\1/p' output/pulse/PulseSinkDevice.h)

work=$(mktemp -d)
pids=()
cleanup() {
  # Only the processes started here.
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work" HOME="$work" PULSE_SERVER="unix:$work/native"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$work/native auth-anonymous=1" \
  -L "module-null-sink sink_name=bench rate=48000" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/snd"
length=$((seconds + 2))
show=$'snd,\r\n'
for ch in 1 2 3 4 5 6; do
  sox -q -n -r 48000 -c 2 -b 16 "$work/snd/ch$ch.wav" synth "$length" sine $((200 * ch)) vol 0.1
  show+="1,$ch,ch$ch,ch$ch.wav,10,0,0,,1,1,0,0,1,"$'\r\n'
done
printf '%s' "$show" >"$work/show.csv"
sox -q -n -r 48000 -c 2 -b 16 -t raw "$work/ref.raw" synth "$length" sine 440 vol 0.3

for _ in $(seq "$busy"); do
  (while :; do :; done) &
  pids+=($!)
done

# Gaps of 5 ms or more between the first and the last sound of a recording.
gaps() {
  python3 - "$1" <<'PY'
import array, sys
a = array.array('f'); a.frombytes(open(sys.argv[1], 'rb').read())
left = a[0::2]
loud = [i for i in range(0, len(left), 48) if max(abs(x) for x in left[i:i + 48]) > 1e-3]
if not loud:
    print("0 gaps (no sound)"); sys.exit()
first, last = loud[0], loud[-1]
gaps, run, longest, where = 0, 0, 0, []
for i in range(first, last, 48):
    quiet = max(abs(x) for x in left[i:i + 48]) <= 1e-3
    run = run + 1 if quiet else 0
    if run == 5:
        gaps += 1
        where.append(f"{(i - first) / 48000 - 0.004:.2f}")
    longest = max(longest, run)
at = f" (at {', '.join(where[:5])} s)" if where else ""
print(f"{gaps} gaps of 5 ms or more, longest {longest} ms, over {(last - first) / 48000:.0f} s{at}")
PY
}

record() {
  parec -d bench.monitor --format=float32le --rate=48000 --channels=2 >"$work/$1.f32" &
  local rec=$!
  pids+=($rec)
  sleep 0.5
  shift
  "$@" >/dev/null 2>"$work/play.err" || true
  sleep 0.3
  kill "$rec" 2>/dev/null || true
  wait "$rec" 2>/dev/null || true
}

record orvex "$cli" play "$work/show.csv" --device 0=0 --length "$seconds" --at 0.2 go
echo "orvex (engine on the sink): $(gaps "$work/orvex.f32")"
[ -n "${NO_REFERENCE:-}" ] && exit 0
record ref pacat --latency-msec="$latency" --format=s16le --rate=48000 --channels=2 -d bench "$work/ref.raw"
echo "pacat at $latency ms:             $(gaps "$work/ref.f32")"
