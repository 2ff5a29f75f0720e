#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Quick when everything is present; works as root or through sudo.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    gstreamer1.0-tools gstreamer1.0-plugins-base-apps gstreamer1.0-libav
    timgm6mb-soundfont
    fonts-liberation
    xvfb xauth
    xdg-utils libx11-dev
    espeak-ng
    pulseaudio pulseaudio-utils sox lame
    pipewire pipewire-pulse wireplumber dbus-daemon
    faketime tzdata
    locales
    clang libclang-rt-14-dev
    qt6-svg-dev dpkg-dev desktop-file-utils appstream
    libebur128-dev
    playerctl curl
    qt6-httpserver-dev qt6-websockets-dev
    chromium chromium-driver python3-selenium
    libmosquitto-dev mosquitto mosquitto-clients libssl-dev icecast2
    libqt6sql6-sqlite libqt6sql6-psql postgresql sqlite3
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
)

# The tests read stored numbers under a locale whose decimal separator is a comma, and start the
# program in each language it has.
locales=(de_DE fr_FR es_ES it_IT nl_NL)
missing_locales() {
    for l in "${locales[@]}"; do
        locale -a 2>/dev/null | grep -qx "$l.utf8" || echo -n "$l.UTF-8 "
    done
}
generate_locale() {
    if [ -n "$(missing_locales)" ]; then
        echo "install-deps: generating the locales $(missing_locales)"
        for l in "${locales[@]}"; do
            "${sudo[@]}" sed -i "s/^# *\($l.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        done
        "${sudo[@]}" locale-gen >/dev/null
    fi
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
elif [ ${#missing[@]} -gt 0 ] || [ -n "$(missing_locales)" ]; then
    echo "install-deps: need root or sudo to install: ${missing[*]} $(missing_locales)" >&2
    exit 1
fi


if [ ${#missing[@]} -eq 0 ]; then
    generate_locale
    echo "install-deps: all ${#packages[@]} packages present."
    exit 0
fi

echo "install-deps: installing ${missing[*]}"

export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "install-deps: first attempt failed; refreshing the package lists and trying again" >&2
    "${sudo[@]}" apt-get update -q || { echo "install-deps: apt-get update failed" >&2; exit 1; }
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" || {
        echo "install-deps: could not install: ${missing[*]}" >&2
        exit 1
    }
fi
generate_locale
echo "install-deps: done."
