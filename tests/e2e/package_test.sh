#!/usr/bin/env bash
# The Debian packages as a user gets them: made from the tree already built,
# unpacked into a root of their own, and every program, manual page and file
# checked from there; then lintian, where it is installed.
# Usage: package_test.sh CPACK BUILD_DIR VERSION PACKAGE...
set -euo pipefail
cpack=$1 build=$2 version=$3
shift 3
packages=" $* "
built() { [[ $packages == *" $1 "* ]]; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# cpack installs from the build tree and archives: no second build.
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi

root=$work/root
arch=$(dpkg --print-architecture)
for package in "$@"; do
  deb=$work/out/${package}_${version}_$arch.deb
  if [ ! -f "$deb" ]; then
    fail "$package: no $(basename "$deb") among: $(ls "$work/out")"
    continue
  fi
  dpkg-deb -x "$deb" "$root"
  control=$(dpkg-deb -I "$deb" control)
  for field in Version Maintainer Description Section Homepage Depends; do
    grep -q "^$field: ." <<<"$control" || fail "$package: no $field field"
  done
  grep -qx "Version: $version" <<<"$control" || fail "$package: not version $version"

  program=$root/usr/bin/$package
  answer=$("$program" --version 2>&1) || fail "$package --version failed"
  [ "$answer" = "$package $version" ] || fail "$package --version says \"$answer\""
  file "$program" | grep -q ', stripped' || fail "$package: the program is not stripped"

  page=$root/usr/share/man/man1/$package.1.gz
  if [ -f "$page" ]; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$package(1): $warnings"
  else
    fail "$package: no manual page"
  fi
  for doc in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/$package/$doc" ] || fail "$package: no $doc"
  done
done

depends() { dpkg-deb -I "$work/out/${1}_${version}_$arch.deb" control | sed -n 's/^Depends: //p'; }
# The command line runs where there is no desktop: no toolkit libraries.
flash=$(depends orbix-flash)
[[ $flash == *libqt6core6* && $flash == *libqt6serialport6* ]] || fail "orbix-flash depends on: $flash"
[[ $flash != *libqt6widgets* && $flash != *libqt6gui* ]] || fail "orbix-flash needs the toolkit: $flash"
# The window links everything it needs itself.
! built orbix-loader || [[ $(depends orbix-loader) != *orbix-flash* ]] || fail "orbix-loader depends on orbix-flash"

for package in orbix-flash orbix-keypad-sim; do
  [ -f "$root/usr/share/bash-completion/completions/$package" ] || fail "$package: no bash completion"
done
if built orbix-loader; then
  [ -f "$root/usr/share/applications/orbix-loader.desktop" ] || fail "orbix-loader: no desktop entry"
  [ -f "$root/usr/share/icons/hicolor/64x64/apps/orbix-loader.png" ] || fail "orbix-loader: no icon"
fi

# What puts the windows on the desktop, checked by the desktop's own tools: every desktop entry,
# every file type (into a MIME database of its own) and every AppStream metainfo.
for entry in "$root"/usr/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "$(basename "$entry") is not a valid desktop entry"
done
mime=$work/mime
mkdir -p "$mime/packages"
cp "$root"/usr/share/mime/packages/*.xml "$mime/packages/"
errors=$(XDG_DATA_DIRS=$work XDG_DATA_HOME=$work update-mime-database "$mime" 2>&1) || fail "update-mime-database: $errors"
[ -z "$errors" ] || fail "update-mime-database: $errors"
for entry in "$root"/usr/share/applications/*.desktop; do
  for type in $(sed -n 's/^MimeType=//p' "$entry" | tr ';' ' '); do
    grep -qx "$type" "$mime/types" || fail "$(basename "$entry") opens $type, which no package defines"
  done
done
for info in "$root"/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$info" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log" >&2
    fail "$(basename "$info") is not valid AppStream metainfo"
  }
done
for program in orbix-loader orbix-bench; do
  built "$program" || continue
  [ -f "$root/usr/share/applications/$program.desktop" ] || fail "$program: no desktop entry"
  grep -lq "<binary>$program</binary>" "$root"/usr/share/metainfo/*.metainfo.xml || fail "$program: no metainfo"
done
if built orbix-bench; then
  grep -q '^application/x-orbix-bench-profile:\*\.orbix-bench$' <(cut -d: -f2- "$mime/globs2") ||
    fail "no file type for *.orbix-bench"
fi

if command -v lintian >/dev/null; then
  # Errors and warnings fail; the informational tags are only shown.
  lintian --fail-on error,warning --display-info "$work"/out/*.deb >"$work/lintian.log" 2>&1 && status=0 || status=$?
  grep -v 'root privileges' "$work/lintian.log" || true
  [ "$status" -eq 0 ] || fail "lintian"
else
  echo "lintian is not installed: skipped"
fi

[ "$failures" -eq 0 ] && echo "packages: $* ($version) pass"
exit $((failures > 0))
