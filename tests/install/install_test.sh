#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that every file is where it belongs, starts
# the installed program from another directory and checks that it finds its own files there,
# validates the desktop entry and the metainfo, and builds the Debian package.
# Usage: install_test.sh BUILD_DIR APP_ID
set -uo pipefail
build=$(cd "$1" && pwd)
id=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }

# Everything in its place.
for f in bin/kvor-zodid share/kvor-zodid/K-VOR-RNZazorU30.uir share/kvor-zodid/av.bmp \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/kvor-zodid.svg share/man/man1/kvor-zodid.1; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/kvor-zodid" ] || fail "bin/kvor-zodid is not executable"
for size in 16 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/kvor-zodid.png
  if [ "$(head -c 8 "$png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
    fail "the ${size} px icon is not a PNG"
  fi
done

# Started from elsewhere, with nothing beside the executable, it finds its files in the tree.
elsewhere=$work/elsewhere
mkdir -p "$elsewhere"
out=$(cd "$elsewhere" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
      XDG_RUNTIME_DIR="$work" "$prefix/bin/kvor-zodid" --check 2>"$work/check.err")
rc=$?
echo "$out"
[ $rc -eq 0 ] || { cat "$work/check.err"; fail "--check ended with $rc"; }
for f in K-VOR-RNZazorU30.uir av.bmp quandrel.bmp merantic.bmp torvel.bmp; do
  grep -qx "$f: $prefix/share/kvor-zodid/$f" <<<"$out" || fail "$f was not found in the installed tree"
done
version=$("$prefix/bin/kvor-zodid" --version)
[ "$version" = "kvor-zodid 3.0b" ] || fail "--version printed '$version'"

# Without its data it says so, and fails.
mv "$prefix/share/kvor-zodid" "$prefix/share/elsewhere"
out=$(cd "$elsewhere" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$prefix/bin/kvor-zodid" --check 2>&1)
rc=$?
if [ $rc -eq 0 ]; then fail "--check passed without the data folder"; fi
grep -q "cannot load panel" <<<"$out" || fail "no clear message without the panel file: $out"
mv "$prefix/share/elsewhere" "$prefix/share/kvor-zodid"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
else
  skip "desktop-file-validate is not installed (package desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --pedantic --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
else
  skip "appstreamcli is not installed (package appstream)"
fi

# The Debian package: its Depends come from the libraries the programs link.
if command -v cpack >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  if (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1); then
    deb=$(ls "$work"/deb/*.deb 2>/dev/null | head -n 1)
    depends=$(dpkg-deb -f "$deb" Depends 2>/dev/null)
    echo "Depends: $depends"
    for lib in libqt6widgets6 libqt6serialport6 libqcustomplot2.1-qt6 libqt6svg6 libc6; do
      grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
    done
    contents=$(dpkg-deb -c "$deb")
    for f in usr/bin/kvor-zodid usr/share/kvor-zodid/K-VOR-RNZazorU30.uir usr/share/applications/$id.desktop \
             usr/share/icons/hicolor/48x48/apps/kvor-zodid.png usr/share/man/man1/kvor-zodid.1; do
      grep -q "\./$f\$" <<<"$contents" || fail "the package lacks $f"
    done
  else
    cat "$work/cpack.log"
    fail "cpack -G DEB"
  fi
else
  skip "cpack or dpkg-shlibdeps (package dpkg-dev) is not installed"
fi

[ $failures -eq 0 ] && echo "install tree: all checks passed"
exit $((failures > 0))
