#!/usr/bin/env bash
# Installs the build twice into a staging folder and checks the program folder, the menu
# entry and that the second install keeps the user's database. Staged under DESTDIR, so
# nothing outside the staging folder is touched even when the build names absolute folders.
# usage: program_folder_test.sh cmake build-dir program-dir dataroot-dir
set -euo pipefail
cmake_command=$1 build=$2 program_dir=$3 dataroot_dir=$4
prefix=/opt/ostrel-install-test
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
installed() { case $1 in /*) echo "$1" ;; *) echo "$prefix/$1" ;; esac; }
install_into_stage() { DESTDIR=$stage "$cmake_command" --install "$build" --prefix "$prefix" >/dev/null; }

program=$(installed "$program_dir")
dataroot=$(installed "$dataroot_dir")
folder=$stage$program
database=$folder/Data/db.edb
sample=$folder/名片导入实例.xlsx
desktop=$stage$dataroot/applications/ostrel.desktop
icon=$stage$dataroot/icons/hicolor/scalable/apps/ostrel.svg

install_into_stage
# The program and the helper it starts for .xls files, side by side.
programs=("$folder/ostrel" "$folder/ostrel_xlsread")
for f in "${programs[@]}" "$database" "$sample" "$desktop" "$icon"; do
  [ -s "$f" ] || fail "not installed: $f"
done
for f in "${programs[@]}"; do
  [ -x "$f" ] || fail "not executable: $f"
done
[ "$(stat -c %a "$folder/Data")" = 700 ] || fail "Data/ is readable by others"
[ "$(stat -c %a "$database")" = 600 ] || fail "db.edb is readable by others"

# The entry starts the program where it will run, not where it was staged.
grep -qxF "Exec=\"$program/ostrel\"" "$desktop" || fail "Exec does not name $program/ostrel: $(grep ^Exec= "$desktop")"
grep -qxF "Name=Ostrel名片管理软件" "$desktop" || fail "Name missing"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
fi

# The settings the README gives for the sqlcipher tool open the delivered file.
if command -v sqlcipher >/dev/null; then
  count=$(sqlcipher "$database" "PRAGMA key = 'kqv749'; PRAGMA cipher_page_size = 4096; select count(*) from D_B;" 2>&1) || true
  [[ $count =~ ^[0-9]+$ ]] || fail "sqlcipher cannot read the delivered file: $count"
fi

# A second install keeps the user's database byte for byte and writes the sample anew.
printf 'the cards of the user' >"$database"
printf 'spoilt' >"$sample"
install_into_stage
[ "$(cat "$database")" = 'the cards of the user' ] || fail "a second install changed Data/db.edb"
[ "$(cat "$sample")" != spoilt ] || fail "a second install did not restore the sample workbook"
echo "program folder $program installed and reinstalled as expected"
