#!/usr/bin/env bash
# Draws Quorv's icon and writes app/icon/quorv.ico.
#
# The artwork: a teal rounded tile with white viewfinder corners, a square marker lying on a table
# (black frame, white inside, seen in perspective) and an orange figure standing on it: the
# program shows things standing on printed markers.
#
# The icon holds 16, 32, 48 and 64 px images at 8 bits per pixel (a 256-colour palette, with the
# 1-bit AND mask for transparency) and a 256 px image as PNG with alpha. ImageMagick draws and
# scales; its own ICO writer turns every image with transparency into 32 bits per pixel, so the
# palette images and the icon file are packed by the short Python part below.
#
# Usage: app/icon/make-icon.sh [output.ico]   (default: quorv.ico beside this script)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/quorv.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The master is drawn at 1024 px from coordinates on a 256 px grid.
convert -size 1024x1024 gradient:'#23939a-#0c4750' \
    \( -size 1024x1024 xc:black -fill white -draw "roundrectangle 32,32 992,992 176,176" \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -draw "scale 4,4 fill none stroke white stroke-width 12 stroke-linecap round
           stroke-linejoin round
           polyline 40,80 40,40 80,40      polyline 176,40 216,40 216,80
           polyline 40,176 40,216 80,216   polyline 216,176 216,216 176,216" \
    -draw "scale 4,4 fill black polygon 50,206 206,206 180,142 76,142
           fill white polygon 72,196 184,196 166,154 90,154" \
    -draw "scale 4,4 fill '#00000055' ellipse 128,178 26,7 0,360
           fill '#f7941d' circle 128,72 128,92
           path 'M 101,180 L 114,116 Q 128,104 142,116 L 155,180 Z'
           fill '#ffd08a' circle 122,66 122,72" \
    "$work/master.png"

# Palette sizes: colours quantized to at most 255 (one palette entry stays black for the masked
# pixels), and the alpha channel cut at one half into the AND mask.
palette_sizes=(16 32 48 64)
for s in "${palette_sizes[@]}"; do
    convert "$work/master.png" -resize "${s}x${s}" -background '#0c4750' -alpha remove -alpha off \
        +dither -colors 255 -depth 8 "rgb:$work/colour$s.raw"
    convert "$work/master.png" -resize "${s}x${s}" -alpha extract -threshold 50% \
        -depth 8 "gray:$work/alpha$s.raw"
done
convert "$work/master.png" -resize 256x256 -strip -depth 8 "PNG32:$work/image256.png"

python3 - "$work" "$out" "${palette_sizes[@]}" <<'PYTHON'
import struct
import sys

work, out, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]


def row_padded(data):
    return data + b"\0" * (-len(data) % 4)


def palette_image(size):
    """A DIB for an icon entry: header, 256-colour palette, colour rows, AND mask rows."""
    rgb = open(f"{work}/colour{size}.raw", "rb").read()
    alpha = open(f"{work}/alpha{size}.raw", "rb").read()
    assert len(rgb) == size * size * 3 and len(alpha) == size * size
    palette = [(0, 0, 0)]  # index 0: black, shown nowhere, the colour under masked pixels
    index_of = {(0, 0, 0): 0}
    indices = bytearray(size * size)
    for i in range(size * size):
        colour = tuple(rgb[3 * i:3 * i + 3])
        if alpha[i] < 128:
            continue  # transparent: index 0 with the mask bit set
        if colour not in index_of:
            index_of[colour] = len(palette)
            palette.append(colour)
        indices[i] = index_of[colour]
    assert len(palette) <= 256, f"{size} px: {len(palette)} colours"
    palette += [(0, 0, 0)] * (256 - len(palette))
    colour_rows = b""
    mask_rows = b""
    for y in reversed(range(size)):  # DIB rows run bottom-up
        colour_rows += row_padded(bytes(indices[y * size:(y + 1) * size]))
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if alpha[y * size + x] < 128 else 0)
        mask_rows += row_padded(bits.to_bytes(size // 8, "big"))
    # The height counts the colour rows and the mask rows together, as icons do.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, 256, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + colour_rows + mask_rows


entries = [(size, 8, palette_image(size)) for size in sizes]
entries.append((256, 32, open(f"{work}/image256.png", "rb").read()))

directory = struct.pack("<HHH", 0, 1, len(entries))
offset = len(directory) + 16 * len(entries)
images = b""
for size, bits, data in entries:
    # Width and height 256 are written as 0; colour count 0 means 256 or more colours.
    directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data),
                             offset + len(images))
    images += data
with open(out, "wb") as f:
    f.write(directory + images)
PYTHON

# What ImageMagick reads back: the four palette images (1-bit alpha from the mask) and the PNG.
expected="16x16 PaletteAlpha Undefined
32x32 PaletteAlpha Undefined
48x48 PaletteAlpha Undefined
64x64 PaletteAlpha Undefined
256x256 TrueColorAlpha Zip"
found=$(identify -format '%wx%h %[type] %C\n' "$out")
if [ "$found" != "$expected" ]; then
    echo "make-icon: unexpected images in $out:" >&2
    echo "$found" >&2
    exit 1
fi
echo "make-icon: wrote $out"
