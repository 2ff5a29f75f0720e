#!/usr/bin/env bash
# Starts the program from its build folder. The first time, when the program folder has no media
# folders yet, it puts two demo tunes and one spoken announcement there, and a short message
# interval, so that a new user hears music and an announcement within a minute.
set -euo pipefail
program_dir=$(cd "$1" && pwd)
build_dir=$(dirname "$program_dir")

if [ ! -d "$program_dir/Music" ] && [ ! -d "$program_dir/Messages" ]; then
    echo "run: first start, putting demo media into $program_dir/Music and $program_dir/Messages"
    mkdir -p "$program_dir/Music" "$program_dir/Messages"
    "$build_dir/make_demo_media" "$program_dir/Music"
    if command -v espeak-ng >/dev/null 2>&1; then
        espeak-ng -s 150 -w "$program_dir/Messages/Welcome.wav" \
            "Welcome! Thank you for visiting. Today's special offers are at the front desk."
    else
        echo "run: espeak-ng is missing; the Messages folder stays empty" >&2
    fi
    if [ ! -f "$program_dir/corvane.ini" ]; then
        printf '[Settings]\r\nMessageInterval=15\r\n' > "$program_dir/corvane.ini"
    fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display found, so the window is drawn off screen (Qt's offscreen platform)."
    echo "run: the music still plays; end the program with Ctrl+C, which saves the settings."
    export QT_QPA_PLATFORM=offscreen
fi
exec "$program_dir/corvane"
