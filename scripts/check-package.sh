#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), checks them with lintian and the menu
# and AppStream validators, installs them on this machine, tries the installed programs
# and removes the packages again, also when a step fails. Needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
build_dir=${VELMARROW_PACKAGE_DIR:-build-package}
export VELMARROW_PACKAGE_DIR=$build_dir

scripts/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
arch=$(dpkg --print-architecture)
program_deb="$build_dir/velmarrow_${version}_${arch}.deb"
sim_deb="$build_dir/velmarrow-sim_${version}_${arch}.deb"
for deb in "$program_deb" "$sim_deb"; do
  [ -f "$deb" ] || { echo "check-package: $deb was not built" >&2; exit 1; }
done

echo "== lintian"
# Errors fail the check; warnings are shown. lintian itself ends with 1 when it found
# errors, with more when it could not check.
status=0
lintian_out=$(lintian --tag-display-limit 0 "$program_deb" "$sim_deb") || status=$?
[ -z "$lintian_out" ] || echo "$lintian_out"
if [ "$status" -gt 1 ]; then
  echo "check-package: lintian could not check the packages (exit code $status)" >&2
  exit 1
fi
if [ "$status" -eq 1 ] || grep -q '^E:' <<<"$lintian_out"; then
  echo "check-package: lintian found errors" >&2
  exit 1
fi

echo "== Desktop entry and AppStream metainfo"
contents=$(mktemp -d)
dpkg-deb --extract "$program_deb" "$contents"
desktop-file-validate "$contents"/usr/share/applications/velmarrow.desktop
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
rm -rf "$contents"

installed=0
remove_packages() {
  if [ "$installed" -eq 1 ]; then
    echo "== Removing the packages"
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y velmarrow velmarrow-sim ||
      "${sudo_cmd[@]}" dpkg --purge velmarrow velmarrow-sim
  fi
}
trap remove_packages EXIT
trap 'exit 130' INT TERM

echo "== Installing the packages"
# --reinstall: a velmarrow of the same version installed earlier is replaced by the one
# just built, so that the one checked is this one (and it is removed afterwards).
installed=1
install=(apt-get install -y --reinstall "./$program_deb" "./$sim_deb")
if ! "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}"; then
  # The packages' dependencies may be newer than this machine's package lists.
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}"
fi

echo "== Trying the installed programs"
# Without a display, as over ssh: --version and --help must not need one.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
printed=$("${no_display[@]}" /usr/bin/velmarrow --version)
if [ "$printed" != "Velmarrow $version" ]; then
  echo "check-package: velmarrow --version printed \"$printed\", not \"Velmarrow $version\"" >&2
  exit 1
fi
echo "velmarrow --version: $printed"
# The About box reads the version record stamped into the program file; stripping the
# binary for the package must leave it.
record=$(python3 - /usr/bin/velmarrow <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<2I", 0xFEEF04BD, 0x00010000))
if at >= 0:
    high, low = struct.unpack_from("<2I", data, at + 8)
    print(f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")
PYTHON
)
if [ "$record" != "$version" ]; then
  echo "check-package: the installed program's version record reads \"$record\", not $version" >&2
  exit 1
fi
echo "version record (About box): $record"
help=$("${no_display[@]}" /usr/bin/velmarrow --help)
grep -q -- '--language' <<<"$help" || { echo "check-package: velmarrow --help: $help" >&2; exit 1; }
help=$(/usr/bin/velmarrow-cli --help)
grep -q '^Usage: velmarrow-cli' <<<"$help" || { echo "check-package: velmarrow-cli --help: $help" >&2; exit 1; }
echo "velmarrow-cli --help: $(head -1 <<<"$help")"
help=$(/usr/bin/lumivex-sim --help)
grep -q -- '--readers' <<<"$help" || { echo "check-package: lumivex-sim --help: $help" >&2; exit 1; }
for page in velmarrow velmarrow-cli lumivex-sim; do
  path=$(man -w "$page")
  echo "man -w $page: $path"
done
echo "== The packages work"
