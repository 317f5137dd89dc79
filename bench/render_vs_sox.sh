#!/usr/bin/env bash
# CPU time of an offline render against sox doing the same work: six
# 44.1 kHz stereo files played at once on all three 48 kHz outputs, against
# three sox runs that each mix the six files and convert them to 48 kHz
# float. Prints both CPU times (user + system) and their ratio; the target is
# a ratio of at most 0.5.
#   bench/render_vs_sox.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
seconds=${2:-60}
cli="$build/bin/orvex-cli"
for tool in sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no $cli: build first (scripts/build $build)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/snd"

show=$'snd,\r\n'
for ch in 1 2 3 4 5 6; do
  sox -q -n -r 44100 -c 2 -b 16 "$work/snd/ch$ch.wav" synth "$seconds" sine $((200 * ch)) vol 0.1
  # Cue 1 on every channel, routed to Master, Group1 and Group2 (0x107).
  show+="1,$ch,ch$ch,ch$ch.wav,10,0,0,,263,1,0,0,1,"$'\r\n'
done
printf '%s' "$show" >"$work/show.csv"

# CPU seconds (user + system) of a command, its output discarded.
cpu() {
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f", $1 + $2 }' "$work/time"
}

orvex=$(cpu "$cli" render "$work/show.csv" --out "$work/out" --length "$seconds" \
  --at 0 fader:7=10 --at 0 fader:8=10 --at 0 go)
sox_total=0
inputs=("$work"/snd/ch*.wav)
for n in 1 2 3; do
  t=$(cpu sox -q -m "${inputs[@]}" -e floating-point -b 32 "$work/sox$n.wav" rate -h 48000)
  sox_total=$(awk -v a="$sox_total" -v b="$t" 'BEGIN { printf "%.3f", a + b }')
done
ratio=$(awk -v a="$orvex" -v b="$sox_total" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
echo "orvex-cli render: ${orvex} s CPU"
echo "three sox runs:   ${sox_total} s CPU"
echo "ratio:            ${ratio} (target <= 0.50)"
