#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  clang libclang-rt-14-dev                 # fuzzing harnesses (libFuzzer)
  libpugixml-dev libboost-dev libssl-dev   # CIM client: XML, HTTP (Asio, Beast), TLS
  nlohmann-json3-dev                       # kest-provider
  libgtest-dev python3                     # tests
  sblim-wbemcli curl openssl valgrind      # interoperability, replay and memory checks
  groff-base dpkg-dev file                 # manual page and Debian package tests (cpack's shlibdeps)
  time                                     # benchmarks (bench/)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
