#!/usr/bin/env bash
# Renders resources/quillset.svg into the two icons of resources/quillset.rc
# with Debian's tools (librsvg2-bin, imagemagick, icoutils). With --check it
# writes nothing and fails when the committed icons differ from a fresh
# render by more than other releases of those tools make them differ.
set -euo pipefail
res=$(cd "$(dirname "$0")/../resources" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
im=convert
command -v magick >/dev/null && im=magick

# At 16 pixels the quill gets bolder lines and the card fewer, wider contacts.
echo '.detail{display:none}.small{display:inline}.edge{stroke-width:3}' >small.css
for size in 16 32 48 64; do
    style=(); [ $size -gt 16 ] || style=(-s small.css)
    rsvg-convert "${style[@]}" -w $size -h $size "$res/quillset.svg" -o $size.png
    $im $size.png +dither -colors 256 PNG8:$size-8.png
done
$im 64.png +dither -colors 16 PNG8:64-4.png
# Two colours: dark lines on white, the outline's transparency kept.
$im 64.png -background white -alpha remove -colorspace gray -threshold 30% \
    \( 64.png -alpha extract -threshold 50% \) -compose CopyOpacity -composite PNG8:64-1.png

palette=(-b 8 16-8.png 32-8.png 48-8.png -b 1 64-1.png -b 4 64-4.png -b 8 64-8.png)
mkdir new
icotool -c -o new/quillset.ico "${palette[@]}" -b 32 16.png 32.png 48.png 64.png
# The small icon's 32-pixel true-colour image has no alpha channel.
icotool -c -o new/quillset_small.ico "${palette[@]}" -b 32 16.png -b 24 32.png -b 32 48.png 64.png 2>/dev/null

if [ "${1:-}" != --check ]; then
    cp new/*.ico "$res/"
    exit 0
fi

# Antialiasing and palettes shift a little between releases: the same
# images, each within a few pixels of the fresh render, count as unchanged.
mkdir committed fresh
for ico in quillset quillset_small; do
    icotool -x -o committed "$res/$ico.ico"
    icotool -x -o fresh "new/$ico.ico"
done
if [ "$(ls committed)" != "$(ls fresh)" ]; then
    echo "icons: the committed images are not the ones tools/make-icons.sh makes:"
    diff <(ls committed) <(ls fresh) || true
    exit 1
fi
status=0
for png in committed/*.png; do
    name=${png#committed/}
    differ=$(compare -metric AE -fuzz 20% "$png" "fresh/$name" null: 2>&1 || true)
    if ! awk -v n="${differ%% *}" -v p="$(identify -format '%[fx:w*h]' "$png")" 'BEGIN { exit !(n <= p * 0.03) }'; then
        echo "icons: $name differs from a fresh render in $differ pixels; run tools/make-icons.sh"
        status=1
    fi
done
exit $status
