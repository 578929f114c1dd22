#!/usr/bin/env bash
# Takes the README's screenshots: the program with the simulated sensor under Xvfb, once while RUN
# measures, once while VIDEO shows the CCD line, and the recorder window during RUN; then on two
# small screens. Needs xvfb, xauth, imagemagick and xdotool.
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

# The window on small screens: a 1366 x 768 laptop screen less a 40-pixel taskbar during RUN, and
# a 1920 x 1080 screen at 150 % scaling during VIDEO (clicks in screen pixels). Both windows are
# shorter than the panel and show its lower part first, so the buttons sit higher.
xvfb-run -a -s '-screen 0 1366x728x24' bash -c "
  $bin --simulate & pid=\$!
  sleep 4
  xdotool mousemove 75 584 click 1          # RUN
  sleep 8
  import -window root '$out/screenshot-1366x768.png'
  kill \$pid
"
xvfb-run -a -s '-screen 0 1920x1080x24' bash -c "
  QT_SCALE_FACTOR=1.5 $bin --simulate & pid=\$!
  sleep 4
  xdotool mousemove 468 864 click 1         # VIDEO
  sleep 6
  import -window root '$out/screenshot-150-percent.png'
  kill \$pid
"
# The recorder window during RUN, recording into a file of its own, beside the main window.
rec=$(mktemp -d)
xvfb-run -a -s '-screen 0 2200x800x24' bash -c "
  $bin --simulate --record '$rec/line.csv' & pid=\$!
  sleep 4
  xdotool mousemove 342 425 click 1         # Recorder
  sleep 1
  xdotool search --name 'K-VOR-RN Recorder' windowmove 1190 0
  sleep 0.5
  xdotool mousemove 75 646 click 1          # RUN
  sleep 20
  import -window root -crop 980x700+1190+0 +repage '$out/screenshot-recorder.png'
  kill \$pid
"
rm -rf "$rec"
