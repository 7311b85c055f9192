#!/usr/bin/env bash
# The .deb as `make package` builds it: the programs, their manual pages,
# the desktop entry and the metadata are in it, and the programs run from
# an unpacked copy and report the project's version.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >/dev/null 2>&1
deb=$(ls "$work"/marvalo_"$version"_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
for path in ./usr/share/applications/marvalo.desktop ./usr/share/metainfo/marvalo.metainfo.xml \
            ./usr/share/icons/hicolor/48x48/apps/marvalo.png ./usr/share/doc/marvalo/copyright; do
  grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; missing=1; }
done
dpkg-deb -x "$deb" "$work/root"
for program in marvalo marvalo-send marvalo-frame marvalo-sim; do
  for path in ./usr/bin/$program ./usr/share/man/man1/$program.1.gz; do
    grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; missing=1; }
  done
  said=$("$work/root/usr/bin/$program" --version)
  [ "$said" = "$program $version" ] || { echo "$program --version said '$said'"; missing=1; }
  zcat "$work/root/usr/share/man/man1/$program.1.gz" | grep -q '^\.SH EXAMPLES' ||
    { echo "the manual page of $program has no examples"; missing=1; }
done
[ "$missing" = 0 ] && echo "package ok: $(basename "$deb")"
