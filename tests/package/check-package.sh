#!/usr/bin/env bash
# Builds the Debian package from a configured build and checks that it holds
# what an installed Tolvane needs and depends on the Qt runtime.
# Usage: check-package.sh BUILD_DIR PREFIX UNIT_DIR (paths as installed)
set -euo pipefail
build=$1 prefix=$2 unit_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/tolvane_*.deb)

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
status=0
for path in "$prefix/bin/tolvane" "$prefix/bin/tolvane-server" "$prefix/share/tolvane/methods.txt" \
            "$prefix/share/applications/tolvane.desktop" \
            "$prefix/share/icons/hicolor/scalable/apps/tolvane.svg" \
            "$prefix/share/man/man1/tolvane.1.gz" "$prefix/share/man/man1/tolvane-server.1.gz" \
            "$prefix/share/metainfo/invalid.tolvane.tolvane.metainfo.xml" \
            "$prefix/share/doc/tolvane/copyright" "$unit_dir/tolvane-server.service"; do
  grep -qx ".$path" <<< "$contents" || { echo "missing from the package: $path"; status=1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6 libqt6svgwidgets6 qt6-qpa-plugins libmicrohttpd12; do
  grep -qE "(^|, )$package( |,|$)" <<< "$depends" || { echo "not among the dependencies: $package ($depends)"; status=1; }
done
info=$(dpkg-deb --info "$deb")
grep -q "^ Depends: .*libqt6widgets6" <<< "$info" || { echo "dpkg-deb --info names no Qt runtime"; status=1; }
exit $status
