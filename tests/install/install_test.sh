#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that every file is where a packager and
# a desktop expect it and that the installed programs run, then removes the install by its
# manifest and checks that nothing is left.
# Usage: install_test.sh BUILD_DIR WITH_APP(ON|OFF) PRIVATE_LIB_FOLDER(ON|OFF)
set -euo pipefail
build=$1
with_app=$2
private=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
expect_file() {
  [[ -f $prefix/$1 ]] || fail "$1 is not installed"
}

# The component's own manifest, so that a developer's install_manifest.txt stays as it was.
cmake --install "$build" --prefix "$prefix" --component Unspecified >/dev/null
manifest=$build/install_manifest_Unspecified.txt

[[ -x $prefix/bin/kelvaro ]] || fail "bin/kelvaro cannot be run"
if [[ $private == ON ]]; then
  [[ -L $prefix/bin/kelvaro && -x $prefix/lib/kelvaro/kelvaro ]] ||
    fail "bin/kelvaro is not a link to lib/kelvaro/kelvaro"
else
  [[ -f $prefix/bin/kelvaro && ! -L $prefix/bin/kelvaro && ! -e $prefix/lib/kelvaro ]] ||
    fail "without the private folder, kelvaro belongs in bin itself"
fi
expect_file share/man/man1/kelvaro.1
expect_file share/bash-completion/completions/kelvaro
[[ $("$prefix/bin/kelvaro" --version | head -1) == "kelvaro 2.0" ]] || fail "kelvaro --version"

# The installed program converts: a tenth of a second of silence, 8 kHz mono 16-bit.
{
  printf 'RIFF\x64\x06\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00'
  printf '\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00data\x40\x06\x00\x00'
  head -c 1600 /dev/zero
} >"$tmp/silence.wav"
"$prefix/bin/kelvaro" -q -o "$tmp/out" "$tmp/silence.wav" || fail "the installed kelvaro does not convert"
[[ -s $tmp/out/silence.wma ]] || fail "no output from the installed kelvaro"

# Every option the help shows is in the manual page and the completion.
for option in $("$prefix/bin/kelvaro" --help | grep -o -- '--[a-z0-9-]*' | sort -u); do
  grep -qF -- "${option//-/\\-}" "$prefix/share/man/man1/kelvaro.1" || fail "kelvaro.1 lacks $option"
  grep -qw -- "$option" "$prefix/share/bash-completion/completions/kelvaro" ||
    fail "the completion lacks $option"
done
completed=$(bash -c 'source "$1"; COMP_WORDS=(kelvaro --log-level w); COMP_CWORD=2; _kelvaro
                     echo "${COMPREPLY[*]}"' - "$prefix/share/bash-completion/completions/kelvaro")
[[ $completed == warning ]] || fail "the completion offers '$completed' for --log-level w"

if [[ $with_app == ON ]]; then
  id=org.kelvaro.Kelvaro
  [[ -x $prefix/bin/kelvaro-gui ]] || fail "bin/kelvaro-gui cannot be run"
  expect_file share/kelvaro/help.htm
  expect_file share/man/man1/kelvaro-gui.1
  expect_file share/applications/$id.desktop
  expect_file share/metainfo/$id.metainfo.xml
  expect_file share/icons/hicolor/scalable/apps/$id.svg
  expect_file share/icons/hicolor/48x48/apps/$id.png
  expect_file share/icons/hicolor/128x128/apps/$id.png
  [[ $(QT_QPA_PLATFORM=offscreen "$prefix/bin/kelvaro-gui" --version 2>/dev/null) == "kelvaro 2.0" ]] ||
    fail "kelvaro-gui --version"
  grep -qx 'Exec=kelvaro-gui %F' "$prefix/share/applications/$id.desktop" || fail "Exec takes no files"
  grep -q '^MimeType=.*audio/mpeg;' "$prefix/share/applications/$id.desktop" || fail "no MimeType"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
  fi
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
      fail "appstreamcli validate"
  fi
fi

# Uninstalling, as a packager or a user does it by hand, leaves no file and no link.
xargs rm <"$manifest"
left=$(find "$prefix" -type f -o -type l)
[[ -z $left ]] || fail "left after uninstalling: $left"
rm -f "$manifest"

exit $((failures > 0))
