#!/usr/bin/env bash
# Builds the Debian packages velmarrow (the program, velmarrow-cli, menu entry, icons,
# manual pages, bash completion) and velmarrow-sim (the simulated reader) from a Release
# build of their own in build-package/, and prints where they are. Install both with
#   sudo apt-get install ./build-package/velmarrow_*.deb ./build-package/velmarrow-sim_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build_dir=${VELMARROW_PACKAGE_DIR:-build-package}
# The changelog's date is that of the commit packaged, so that the same commit gives the
# same packages.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
# Debian's own compiler and linker flags: hardening (stack protector, fortified
# functions, read-only relocations) as every Debian package has it.
cxx_flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ld_flags=$(dpkg-buildflags --get LDFLAGS)

echo "== Configuring a Release build in ${build_dir}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_EXE_LINKER_FLAGS="$ld_flags" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
echo "== Building the programs"
cmake --build "$build_dir" --parallel "$(nproc)" --target velmarrow velmarrow-cli lumivex-sim
echo "== Making the packages"
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB)
echo "== Packages:"
ls -1 "$PWD/$build_dir"/*.deb
