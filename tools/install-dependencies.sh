#!/bin/sh
# Installs what building, running and testing KELTA needs on a Debian 12 machine.
set -e
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    g++ cmake ninja-build pkg-config \
    libglfw3-dev libglew-dev libgl-dev libgl1-mesa-dri \
    xvfb xauth xdotool imagemagick \
    libgtest-dev libbenchmark-dev libpng-dev nlohmann-json3-dev python3 glslang-tools \
    clang libclang-rt-14-dev >/dev/null
