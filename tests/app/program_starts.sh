#!/bin/sh
# The program starts, shows its window and keeps running until it is told to
# stop: timeout's exit code 124. Anything else (a crash, an early exit) fails.
QT_QPA_PLATFORM=offscreen timeout -s TERM 3 "$1"
rc=$?
if [ "$rc" -ne 124 ]; then
  echo "kelm-utility exited with $rc before it was stopped"
  exit 1
fi
