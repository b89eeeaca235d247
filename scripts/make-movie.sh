#!/usr/bin/env bash
# Makes the exhibit's movie, shown on the marker when the visitor brings it into view:
#   exhibit/videos_Tovarin/Tovarin.mpg   15 s, 640x480, 25 fps, MPEG-1 video, and a sound
#                                        track in MPEG-1 Layer II (44100 Hz, stereo, 128 kb/s)
#
# Our own design, drawn by ffmpeg's lavfi filters: a dark blue stage, the title "Tovarin" fading
# in, a ball orbiting the title, a square bouncing along the floor, bars rising and falling like
# an equaliser and a progress strip along the bottom. The sound: a Spanish narration spoken by
# espeak-ng over four soft chords (A minor, F, C, G; a different voicing on each side) and a
# brushed beat of pink noise, also different on each side, so that the track is never silent
# and no two moments of it sound alike. Running it again gives the same file.
#
# Usage: scripts/make-movie.sh [OUTPUT]   (default: exhibit/videos_Tovarin/Tovarin.mpg)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/exhibit/videos_Tovarin/Tovarin.mpg}
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
seconds=15
size=640x480
rate=25

if ! command -v ffmpeg >/dev/null; then
  echo "make-movie: ffmpeg is not installed (apt-get install ffmpeg)" >&2
  exit 1
fi
if ! command -v espeak-ng >/dev/null; then
  echo "make-movie: espeak-ng is not installed (apt-get install espeak-ng)" >&2
  exit 1
fi
if [ ! -f "$font" ]; then
  echo "make-movie: $font missing (apt-get install fonts-dejavu-core)" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
voice=$(mktemp --suffix=.wav)
trap 'rm -f "$voice"' EXIT
narration="Esto es Tovarin. Acerca las tarjetas a la cámara y el personaje aparecerá sobre ellas.
Con las teclas puedes hacerlo caminar y girar. Disfruta de la visita."
espeak-ng -v es -s 150 -p 40 -w "$voice" "$narration"

src() { echo "color=c=$1:s=$2:r=$rate:d=$seconds"; }

# drawbox and drawtext place things once; what moves is overlaid with per-frame expressions of t.
# The ball: a disc with soft edges drawn by geq on a transparent 64x64 picture.
graph="$(src black@0 64x64),format=rgba,geq=r=255:g=190:b=40:a='255*clip((30-hypot(X-32,Y-32))/2,0,1)'[ball];
$(src 0x80ffdb 40x40)[square];
$(src 0xffd166 640x12)[strip];
$(src 0x14213d $size)[stage0]"

# Equaliser bars left and right of the title, rising and falling on sines of their own: tall
# rectangles pushed up from behind the floor, which is drawn over their feet afterwards.
bars=("40 0xf72585 40 30 0.9 0" "72 0xb5179e 55 35 1.3 1" "104 0x7209b7 45 30 0.7 2"
      "512 0x7209b7 50 30 1.1 3" "544 0xb5179e 40 35 0.8 4" "576 0xf72585 55 25 1.5 5")
i=0
for bar in "${bars[@]}"; do
  read -r x colour base swing hz phase <<<"$bar"
  graph="$graph;
$(src "$colour" 24x120)[bar$i];
[stage$i][bar$i]overlay=x=$x:y='356-($base+$swing*sin(2*PI*t*$hz+$phase))'[stage$((i + 1))]"
  i=$((i + 1))
done

# Then the floor with its horizon line; the square hopping along it while it sweeps from side to
# side; the progress strip sliding in along the bottom; the title fading in over the first two
# seconds and its subtitle after it; last the ball, orbiting the title once every 6 s.
graph="$graph;
[stage$i]drawbox=x=0:y=356:w=iw:h=ih-356:color=0x14213d:t=fill,
drawbox=x=0:y=356:w=iw:h=4:color=0x4cc9f0:t=fill[floor];
[floor][square]overlay=x='40+(W-120)*(0.5-0.5*cos(2*PI*t/5))':y='316-90*abs(sin(2*PI*t*0.8))'[hop];
[hop][strip]overlay=x='-W+W*t/$seconds':y=H-12[progress];
[progress]drawtext=fontfile=$font:text=Tovarin:fontsize=96:fontcolor=white:x=(w-text_w)/2:y=120:
alpha='min(1,t/2)':shadowcolor=black@0.6:shadowx=4:shadowy=4,
drawtext=fontfile=$font:text='an exhibit in augmented reality':fontsize=24:fontcolor=0xa9def9:
x=(w-text_w)/2:y=250:alpha='clip((t-1.5)/1.5,0,1)'[titled];
[titled][ball]overlay=x='288+230*cos(2*PI*t/6)':y='150+110*sin(2*PI*t/6)',format=yuv420p[v]"

# The chords, one every 3.75 s, each fading in and out over 0.3 s so that the change of notes
# does not click; the left side plays root, third and fifth, the right side third, fifth and
# the octave, both over the root an octave down.
chord=3.75
pick() { echo "if(eq(floor(t/$chord),0),$1,if(eq(floor(t/$chord),1),$2,if(eq(floor(t/$chord),2),$3,$4)))"; }
root=$(pick 220 174.61 261.63 196)
third=$(pick 261.63 220 329.63 246.94)
fifth=$(pick 329.63 261.63 392 293.66)
fade="pow(sin(PI/2*min(1,min(mod(t,$chord),$chord-mod(t,$chord))/0.3)),2)"
tone() { echo "sin(2*PI*($1)*t)"; }
bass="0.02*$(tone "$root/2")"
left="$fade*(0.018*($(tone "$root")+$(tone "$third")+$(tone "$fifth"))+$bass)"
right="$fade*(0.018*($(tone "$third")+$(tone "$fifth")+$(tone "2*$root"))+$bass)"
# The brushes: pink noise of a seed of its own on each side, struck twice a second.
brush="0.4+0.6*exp(-10*mod(t,0.5))"
graph="$graph;
aevalsrc=exprs='$left|$right':s=44100:d=$seconds[music];
anoisesrc=c=pink:a=0.04:seed=11:r=44100:d=$seconds[noise0];
anoisesrc=c=pink:a=0.04:seed=23:r=44100:d=$seconds[noise1];
[noise0][noise1]join=inputs=2:channel_layout=stereo,aeval=exprs='val(0)*($brush)|val(1)*($brush)'[brushes];
[0:a]aresample=44100,pan=stereo|c0=0.4*c0|c1=0.4*c0,adelay=1500|1500[voice];
[music][brushes][voice]amix=inputs=3:normalize=0:duration=first[a]"

ffmpeg -hide_banner -loglevel error -y -i "$voice" -filter_complex "$graph" \
  -map '[v]' -map '[a]' -c:v mpeg1video -q:v 5 -g 25 -bf 2 -c:a mp2 -ar 44100 -b:a 128k \
  -f mpeg -fflags +bitexact -flags:v +bitexact -flags:a +bitexact "$out"

bytes=$(stat -c %s "$out")
echo "make-movie: $out, $(awk -v b="$bytes" 'BEGIN { printf "%.2f MB", b / 1e6 }')"
if [ "$bytes" -ge 2000000 ]; then
  echo "make-movie: the movie must stay under 2 MB; raise -q:v" >&2
  exit 1
fi
