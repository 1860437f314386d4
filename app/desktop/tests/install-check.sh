#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what the desktop
# needs: a valid desktop entry that opens a file with the installed program,
# the "*.usb" project type, the icon in the hicolor theme, and a program that
# starts from the prefix and loads its device library and plug-ins from there.
# Usage: install-check.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2

for tool in desktop-file-validate update-mime-database update-desktop-database ldd; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool missing (run scripts/install-deps.sh)"; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/orvane-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || {
  cat "$tmp/install.log"
  echo "FAIL: cmake --install"
  exit 1
}

share=$prefix/share
entry=$share/applications/orvane.desktop
# The program folder, as the link on the PATH leads to it.
program=$(readlink -f "$prefix/bin/orvane")
root=$(dirname "$program")

# The desktop entry.
if [ -f "$entry" ]; then
  desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
  grep -qx "Exec=$prefix/bin/orvane %f" "$entry" || fail "Exec does not open a file with the installed program"
  grep -qx 'MimeType=application/x-orvane-project;' "$entry" || fail "MimeType"
  grep -qx 'Icon=orvane' "$entry" || fail "Icon"
  grep -q '^application/x-orvane-project=orvane.desktop;' "$share/applications/mimeinfo.cache" ||
    fail "the desktop database does not open projects with orvane.desktop"
else
  fail "no desktop entry at $entry"
fi

# The project type, as written and as compiled into the prefix's MIME database.
grep -qF '<glob pattern="*.usb"/>' "$share/mime/packages/orvane.xml" || fail "the MIME file names no *.usb"
grep -qF '<root-XML namespaceURI="" localName="Orvane"/>' "$share/mime/packages/orvane.xml" ||
  fail "the MIME file has no root-XML match"
grep -qx '50:application/x-orvane-project:\*\.usb' "$share/mime/globs2" || fail "*.usb is not in the compiled globs"
grep -q 'Orvane application/x-orvane-project' "$share/mime/XMLnamespaces" ||
  fail "the root element Orvane is not in the compiled XML matches"

# The icon: the scalable one and each size, as large as its folder says.
[ -s "$share/icons/hicolor/scalable/apps/orvane.svg" ] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/orvane.png
  if [ -s "$png" ]; then
    read -r w3 w4 h3 h4 < <(od -An -tu1 -j18 -N6 "$png" | awk '{print $1, $2, $5, $6}')
    [ $((w3 * 256 + w4)) -eq "$size" ] && [ $((h3 * 256 + h4)) -eq "$size" ] || fail "$png is not ${size}x$size"
  else
    fail "no ${size}x$size icon"
  fi
done

# Every installed library and program finds what it links in the prefix, never in the build tree.
while IFS= read -r elf; do
  deps=$(ldd "$elf" 2>&1) || { fail "ldd $elf"; continue; }
  if grep -q 'not found' <<<"$deps"; then fail "$elf: $(grep 'not found' <<<"$deps" | tr -s ' \t' ' ')"; fi
  if grep -qF "$build" <<<"$deps"; then fail "$elf links from the build tree"; fi
done < <(find "$root" -type f \( -name '*.so' -o -perm -u+x \))

# The installed program starts without a display and lists what it loaded.
[ -d "$root/../common" ] && [ -d "$root/../demo" ] || fail "no common/ or demo/ beside the program folder"
# The demonstration projects the build recorded, as recorded.
compgen -G "$build/demo/*.usb" >/dev/null || fail "the build recorded no demonstration project"
for recorded in "$build/demo"/*; do
  cmp -s "$recorded" "$root/../demo/$(basename "$recorded")" || fail "demo/$(basename "$recorded") was not installed"
done
home=$tmp/home
mkdir -p "$home"
listed=$(cd "$tmp" && env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR= QT_QPA_PLATFORM=offscreen \
  timeout 120 "$prefix/bin/orvane" --list-plugins 2>"$tmp/stderr.log") || {
  cat "$tmp/stderr.log"
  fail "the installed program did not start"
}
echo "$listed"
grep -qxF "device	$root/libpardix.so" <<<"$listed" || fail "the device library was not loaded from $root"
for kind in classes view; do
  word=$([ "$kind" = classes ] && echo class || echo view)
  for built in "$build/bin/$kind"/*.so; do
    name=$(basename "$built")
    grep -qF "$word	$root/$kind/$name	" <<<"$listed" || fail "$kind/$name was not loaded from $root"
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed into $prefix: all checks passed"
