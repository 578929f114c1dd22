#!/usr/bin/env bash
# Takes the README's screenshots: the program with the simulated sensor under Xvfb, once while RUN
# measures and once while VIDEO shows the CCD line. Needs xvfb, xauth, imagemagick and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
mkdir -p "$out"
bin=${KVOR_BIN:-build/bin/kvor-zodid}
xvfb-run -a -s '-screen 0 1280x800x24' bash -c "
  $bin --simulate & pid=\$!
  sleep 4
  xdotool mousemove 75 646 click 1          # RUN
  sleep 8
  import -window root -crop 1180x750+0+0 +repage '$out/screenshot-run.png'
  xdotool mousemove 193 646 click 1         # STOP
  sleep 0.5
  xdotool mousemove 312 646 click 1         # VIDEO
  sleep 5
  import -window root -crop 1180x750+0+0 +repage '$out/screenshot-video.png'
  kill \$pid
"
