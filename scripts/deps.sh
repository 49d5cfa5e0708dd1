#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing (clang and
# its runtime libraries for the fuzz targets; g++ brings the sanitizer runtimes).
set -euo pipefail
pkgs=(cmake make g++ pkg-config libgtest-dev libgmock-dev libace-dev libsqlite3-dev
      libxerces-c-dev xsdcxx libssl-dev libmimetic-dev libcurl4-openssl-dev
      nlohmann-json3-dev libcpp-httplib-dev libbenchmark-dev
      clang libclang-rt-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
