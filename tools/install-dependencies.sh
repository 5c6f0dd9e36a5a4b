#!/bin/sh
# Installs what building and running KELTA needs on a Debian 12 machine; with --tests, also what
# its test suite needs (GoogleTest, Google Benchmark, Xvfb and the X tools that drive the program,
# ImageMagick, clang for fuzzing, the reference GLSL compiler, Python, GDAL's programs, which
# make the elevation test files, FFmpeg's programs, which decode kelta-shot's videos back, and
# lighttpd, which the tests start on a free local port to serve a map over HTTP; its Debian package
# may also enable a system service, which the tests do not use).
set -e
TESTS=0
for argument in "$@"; do
    case "$argument" in
        --tests) TESTS=1 ;;
        *) echo "install-dependencies.sh: unknown argument '$argument' (only --tests)" >&2; exit 1 ;;
    esac
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
# kelta-shot and kelta-bench write PNG and JSON, so libpng and nlohmann-json belong to the build;
# GDAL reads elevation maps and drape pictures; GeographicLib measures on the ellipsoid; Dear ImGui
# draws the panel in DejaVu Sans; FFmpeg's libraries encode kelta-shot's videos (Debian's libavcodec
# carries libx264 and libvpx).
PACKAGES="g++ cmake ninja-build pkg-config libglfw3-dev libglew-dev libgl-dev libgl1-mesa-dri
    libpng-dev nlohmann-json3-dev libgdal-dev libgeographiclib-dev libimgui-dev fonts-dejavu-core
    libavcodec-dev libavformat-dev libswscale-dev libavutil-dev"
if [ "$TESTS" -eq 1 ]; then
    PACKAGES="$PACKAGES libgtest-dev libbenchmark-dev xvfb xauth xdotool xclip imagemagick
        clang libclang-rt-14-dev glslang-tools python3 gdal-bin lighttpd desktop-file-utils appstream
        shared-mime-info ffmpeg"
fi
$SUDO apt-get update -qq
# shellcheck disable=SC2086 # one word per package
$SUDO apt-get install -y -qq --no-install-recommends $PACKAGES >/dev/null
