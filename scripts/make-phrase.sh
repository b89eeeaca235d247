#!/usr/bin/env bash
# Makes the exhibit's welcome phrase, exhibit/sounds_Tovarin/frase.wav: Spanish speech from
# espeak-ng, converted to what the exhibit's mixer plays (22050 Hz, 16-bit, stereo), 2 to 5 s.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/exhibit/sounds_Tovarin/frase.wav"
text="¡Bienvenidos! Mira cómo Tovarin cobra vida."
mkdir -p "$(dirname "$out")"
tmp=$(mktemp --suffix=.wav)
trap 'rm -f "$tmp"' EXIT
espeak-ng -v es -s 150 -p 45 -w "$tmp" "$text"
# Pad a little silence at both ends; normalise the level.
sox "$tmp" -r 22050 -b 16 -c 2 -e signed-integer "$out" pad 0.1 0.2 norm -3
seconds=$(soxi -D "$out")
echo "make-phrase: $out, $seconds s"
awk -v s="$seconds" 'BEGIN { exit !(s >= 2 && s <= 5) }' || { echo "make-phrase: length out of 2-5 s" >&2; exit 1; }
