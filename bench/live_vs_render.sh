#!/usr/bin/env bash
# How close a live performance on JACK comes to the offline render of the
# same show and actions.
#
# Plays one short show (a sweep on channel 1 to Master; GO, pause, resume, a
# fader move and a stop) twice: once with `orvex-cli render` on virtual time,
# once live with `orvex-cli play` with Master on a private JACK server
# (dummy driver, 48 kHz, 256 frames), where jack_onset_probe --record keeps
# what Orvex's left port carried. The two are aligned by their first sample
# and compared over the span both cover: the largest absolute sample
# difference and the RMS of the difference in dBFS over the whole span.
# A live action lands on the audio clock where the wall clock and the
# server's period put it, not on the render's exact frame, and the sound
# after it runs that much off the render. So it also compares the stretches
# between the actions, each at the lag that matches it best (the first,
# from GO to 50 ms before the pause, needs none: only the material plays).
#   bench/live_vs_render.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/bin
for p in orvex-cli jack_onset_probe; do
  [ -x "$bin/$p" ] || { echo "live_vs_render: $bin/$p is missing (scripts/build $build)" >&2; exit 1; }
done
for tool in jackd jack_lsp sox python3; do
  command -v "$tool" >/dev/null || { echo "live_vs_render: $tool is missing: run scripts/setup" >&2; exit 1; }
done

work=$(mktemp -d)
server="orvex-live-$$"
jackd_pid=""
probe_pid=""
cleanup() {
  # Only the processes started here.
  for pid in "$probe_pid" "$jackd_pid"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; fi
  done
  if [ -n "${KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

export JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER=$server
export XDG_CONFIG_HOME=$work/config

# The show: a sweep (no two stretches alike, so the alignment is unambiguous),
# undithered, so that every run plays the same samples.
mkdir -p "$work/snd"
sox -q -D -n -r 48000 -c 2 -b 16 "$work/snd/sweep.wav" synth 3 sine 200-2000 vol 0.5
printf 'snd,\r\n1,1,sweep,sweep.wav,10,0,0,,0,1,0,0,0,\r\n' >"$work/show.csv"
# The stretches the comparison judges follow these times (see STRETCHES).
actions=(--at 0.5 go --at 1.2 pause:1 --at 1.5 play:1 --at 2.0 fader:1=6 --at 2.6 stop:1)
length=3.2

"$bin/orvex-cli" render "$work/show.csv" --out "$work/render" --rate 48000 --length "$length" \
  "${actions[@]}" >/dev/null 2>"$work/render.log" || {
  echo "live_vs_render: orvex-cli render failed" >&2; cat "$work/render.log" >&2; exit 1; }

jackd -R -n "$server" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
for _ in $(seq 1 300); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.05
done
jack_lsp >/dev/null 2>&1 || { echo "live_vs_render: jackd did not start" >&2; cat "$work/jackd.log" >&2; exit 1; }

# Master on the JACK server, through a settings file of this run's own.
index=$("$bin/orvex-cli" devices --settings "$work/settings.ini" 2>"$work/devices.log" |
        sed -n 's/.*"index": *\([0-9-]*\).*"kind": *"ASIO".*"name": *"ASIO: JACK".*/\1/p' | head -1)
[ -n "$index" ] || { echo "live_vs_render: Orvex lists no JACK driver" >&2; exit 1; }

# The probe connects to Orvex's port as soon as it appears.
"$bin/jack_onset_probe" --record "$work/live.f32" >/dev/null 2>"$work/probe.log" &
probe_pid=$!
"$bin/orvex-cli" play "$work/show.csv" --settings "$work/settings.ini" --device "0=$index" \
  --length "$length" "${actions[@]}" >"$work/events.jsonl" 2>"$work/play.log" || {
  echo "live_vs_render: orvex-cli play failed" >&2; cat "$work/play.log" >&2; exit 1; }
sleep 0.3
kill "$probe_pid"
wait "$probe_pid" 2>/dev/null || true
probe_pid=""
[ -s "$work/live.f32" ] || { echo "live_vs_render: nothing recorded" >&2; cat "$work/probe.log" >&2; exit 1; }
xruns=$(sed -n 's/.*: \([0-9]*\) xruns.*/\1/p' "$work/probe.log")

python3 - "$work/render/master.wav" "$work/live.f32" "${xruns:-?}" <<'EOF'
import array, math, struct, sys

RATE = 48000
# Stretches between the actions, in seconds after GO: (name, from, to).
STRETCHES = [("GO to the pause", 0.0, 0.65), ("resume to the fader move", 1.05, 1.45),
             ("fader move to the stop", 1.55, 2.05)]

def wav_left(path):
    """The first channel of a 32-bit float WAV file."""
    data = open(path, "rb").read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", path
    at, channels, samples = 12, None, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + size]
        if tag == b"fmt ":
            _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", body[:16])
            assert bits == 32 and rate == RATE, (bits, rate)
        elif tag == b"data":
            samples = array.array("f", body[:len(body) // 4 * 4])
        at += 8 + size + (size & 1)
    return samples[::channels]

render = wav_left(sys.argv[1])
live = array.array("f")
live.frombytes(open(sys.argv[2], "rb").read())

def first(s):
    return next((i for i, x in enumerate(s) if x != 0.0), None)

r0, l0 = first(render), first(live)
if r0 is None or l0 is None:
    sys.exit("live_vs_render: %s is silent" % ("the render" if r0 is None else "the live recording"))
span = min(len(render) - r0, len(live) - l0)

def db(x):
    return 20 * math.log10(x) if x > 0 else float("-inf")

def compare(start, frames, lag=0):
    """Largest |difference| and RMS difference in dBFS from frame start after
    the first sample, the live sound taken `lag` frames later."""
    most, energy = 0.0, 0.0
    for i in range(start, start + frames):
        d = abs(render[r0 + i] - live[l0 + i + lag])
        most = max(most, d)
        energy += d * d
    return most, db(math.sqrt(energy / frames)) if frames else float("-inf")

def best_lag(start, window=480, reach=2400):
    """How many frames later than the render the live sound plays at start."""
    best, lag = None, 0
    for k in range(-reach, reach + 1):
        if l0 + start + k < 0 or l0 + start + k + window > len(live):
            continue
        e = 0.0
        for i in range(start, start + window):
            d = render[r0 + i] - live[l0 + i + k]
            e += d * d
            if best is not None and e >= best:
                break
        if best is None or e < best:
            best, lag = e, k
    return lag

print("first sample: render frame %d, live frame %d of the recording; live xruns: %s"
      % (r0, l0, sys.argv[3]))
fmt = "%-27s %5.3f s  lag %+5d   max |diff| %.6f (%6.1f dBFS)   RMS diff %6.1f dBFS"
for name, a, b in STRETCHES:
    start, frames = int(a * RATE), int((b - a) * RATE)
    if start + frames > span:
        break
    lag = 0 if a == 0.0 else best_lag(start)
    most, rms = compare(start, frames, lag)
    print(fmt % (name + ":", frames / RATE, lag, most, db(most), rms))
most, rms = compare(0, span)
print(fmt % ("whole aligned span:", span / RATE, 0, most, db(most), rms))
if sys.argv[3] not in ("0", "?"):
    print("(the server missed periods: a stretch across one may have lost or repeated frames)")
EOF
