#!/usr/bin/env bash
# A refresh run as an operator would script it with curl and ImageMagick: the
# yardstick of the end-to-end benchmark (bench/EndToEndBench). It does the
# same job in the same program directory: the two loop pages, the radar loop
# page, the seven frames over one connection when a new one appeared, the
# archived frame, the station feed, the overlay (three text lines drawn on
# the background with convert -annotate, saved as BMP) and the overlay ring.
#
# Environment: VESK_HOME (the program directory), VESK_RADAR_HOST and
# VESK_PUBLISH_HOST (host:port), BENCH_CONVERT (ImageMagick's convert,
# default convert), BENCH_FONT (the font file for the text).
set -euo pipefail

cd "$VESK_HOME"
radar="http://$VESK_RADAR_HOST"
publish="http://$VESK_PUBLISH_HOST"
convert="${BENCH_CONVERT:-convert}"
font="${BENCH_FONT:?the font file for the overlay text}"
delay="${1:-333}"

days=(SU MO TU WE TH FR SA)
read -r weekday hour minute stamp < <(date '+%w %-H %-M %a_%H:%M')
slot=$(((hour * 60 + minute) / 5))
printf -v tag '%s%03d' "${days[weekday]}" "$slot"

# The 30-minute page: the seven newest frames and overlays.
{
  echo "<!DOCTYPE html><html><head><title>Radar, last 30 minutes</title></head><body>"
  echo "<script>var delay = $delay; var frames = ["
  for n in 6 5 4 3 2 1 0; do echo "  [\"Image$n.png\", \"SESOverlay$n.bmp\"],"; done
  echo "];</script></body></html>"
} >index.html

# The 24-hour page: the archived frames and overlays of the last 288 slots
# that are on disk.
{
  echo "<!DOCTYPE html><html><head><title>Radar, last 24 hours</title></head><body>"
  echo "<script>var delay = $delay; var frames = ["
  for ((back = 287; back >= 0; back--)); do
    s=$((slot - back))
    d=$weekday
    if ((s < 0)); then
      s=$((s + 288))
      d=$(((weekday + 6) % 7))
    fi
    printf -v t '%s%03d' "${days[d]}" "$s"
    if [ -f "Image-$t.png" ] && [ -f "SESOverlay-$t.bmp" ]; then
      echo "  [\"Image-$t.png\", \"SESOverlay-$t.bmp\"],"
    else
      echo "Image-$t.png missing" >&2
    fi
  done
  echo "];</script></body></html>"
} >index24.html

curl --silent --show-error --fail --output root.html "$radar/products/IDR641.loop.shtml"
mapfile -t frames < <(sed -n 's/.*theImageNames\[[0-6]\] = "\([^"]*\)".*/\1/p' root.html)
if [ "${#frames[@]}" -ne 7 ]; then
  echo "root.html does not name seven frames" >&2
  exit 1
fi
last=""
if [ -f LastImageURI.txt ]; then read -r last <LastImageURI.txt || true; fi
if [ "$last" = "${frames[6]}" ]; then
  echo "No new frame"
  exit 0
fi

# Oldest first, as the page names them; Image0.png is the newest.
args=()
for i in 0 1 2 3 4 5 6; do args+=(--output "Image$((6 - i)).png" "$radar${frames[i]}"); done
curl --silent --show-error --fail "${args[@]}"
cp Image0.png "Image-$tag.png"
printf '%s' "${frames[6]}" >LastImageURI.txt

curl --silent --show-error --fail --output sysinfo.json "$publish/ses/sysinfo.json"
temperature=$(sed -n 's/.*"currentTemp":"\([^"]*\)".*/\1/p' sysinfo.json)
wind=$(sed -n 's/.*"currentWind":"\([^"]*\)".*/\1/p' sysinfo.json)

"$convert" IDR641.background.bmp -font "$font" -pointsize 10 -density 96 -fill black \
  -undercolor white -annotate +50+430 "${stamp/_/ }" -annotate +50+446 "TEMP: $temperature" \
  -annotate +50+462 "WIND: $wind" -type TrueColor "BMP3:SESOverlay-$tag.bmp"

for n in 6 5 4 3 2 1; do
  cp "SESOverlay$((n - 1)).bmp" "SESOverlay$n.bmp" 2>/dev/null || true
done
cp "SESOverlay-$tag.bmp" SESOverlay0.bmp

if [ "${VESK_EXPORT:-webp}" != off ]; then
  size=$("$convert" Image0.png -format '%wx%h' info:)
  height=${size#*x}
  ((delay >= 20)) || delay=20
  args=()
  for n in 6 5 4 3 2 1 0; do
    ms=$delay
    ((n == 0)) && ms=$((delay * 3))
    args+=(-delay "$((ms / 10))" "(" -size "$size" xc:none)
    for layer in "SESOverlay$n.bmp" IDR641.topography.png IDR641.locations.png IDR641.range.png \
      "Image$n.png"; do
      [ -f "$layer" ] && args+=("$layer" -composite)
    done
    digits=$(sed -n 's/.*\.\([0-9]\{12\}\)\.png$/\1/p' <<<"${frames[6 - n]}")
    caption="${digits:0:4}-${digits:4:2}-${digits:6:2} ${digits:8:2}:${digits:10:2} UTC"
    args+=(-fill '#181818' -draw "rectangle 0,$((height - 32)) 100000,$height" -fill white
      -annotate "+3+$((height - 30))" "$caption" -annotate "+3+$((height - 16))"
      "TEMP: $temperature  WIND: $wind" ")")
  done
  "$convert" -gravity NorthWest -font "$font" -pointsize 10 "${args[@]}" -loop 0 \
    -define webp:lossless=true WEBP:loop.webp.new
  mv loop.webp.new loop.webp
fi
echo "Done!"
