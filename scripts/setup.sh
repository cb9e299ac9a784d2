#!/usr/bin/env bash
# Installs what Velmarrow needs to build, run and test on Debian 12, then
# configures and builds it. Safe to run again: it installs only what is missing
# and rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build tools
  build-essential cmake ninja-build pkg-config git
  # Qt 6: Widgets, Network, SerialPort, Charts, PrintSupport, Test, the X and
  # offscreen platform plugins, and the TIFF image-format plugin
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-charts-dev
  qt6-qpa-plugins qt6-image-formats-plugins libgl-dev libqt6opengl6-dev
  # the simulated reader's decoder and symbol generator
  libzxing-dev zlib1g-dev
  # the read history's file (history/)
  libsqlite3-dev
  # fonts for rendering text headless
  fonts-dejavu-core
  # other encoders whose codes the simulated reader must read
  zint dmtx-utils qrencode
  # pdftotext, to read back the verification report saved as a PDF in tests
  poppler-utils
  # the simulated reader sends its part queue to FTP servers through libcurl
  libcurl4-openssl-dev
  # the FTP server that tests start to receive the part queue
  python3-pyftpdlib
  # the Debian packages and their checks (scripts/package.sh, scripts/check-package.sh)
  dpkg-dev fakeroot file lintian desktop-file-utils appstream man-db
  # a virtual X server for the README's picture (scripts/screenshot.sh) and the benchmarks
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "== Installing missing Debian packages: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "== All required Debian packages are installed"
fi

build_dir=${VELMARROW_BUILD_DIR:-build}
echo "== Configuring in ${build_dir}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== Building"
cmake --build "$build_dir" --parallel "$(nproc)"
