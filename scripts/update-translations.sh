#!/usr/bin/env bash
# Brings the window's translation files up to date with the texts in app/ (new texts come in
# unfinished, for a translator to fill in with Qt Linguist or by hand). Needs qt6-l10n-tools.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
for ts in "$root"/app/translations/kelvaro_*.ts; do
  # lupdate does not read "namespace kelvaro::app {" and knows the classes by their own
  # names, while Qt looks the texts up under the qualified ones: unqualify, update, qualify.
  sed -i -E 's|<name>kelvaro::app::(T[A-Za-z0-9]+)</name>|<name>\1</name>|' "$ts"
  /usr/lib/qt6/bin/lupdate -no-obsolete -locations none "$root/app" -ts "$ts"
  sed -i -E 's|<name>(T[A-Za-z0-9]+)</name>|<name>kelvaro::app::\1</name>|' "$ts"
done
