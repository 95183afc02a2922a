#!/usr/bin/env bash
# The include check fails, naming the file, when the engine includes a card rule or a window
# includes a concrete engine; and passes on the untouched copy.
set -euo pipefail
src="${1:?usage: include_rules_check.sh <src folder>}"
rules="$(dirname "$0")/include_rules.sh"
copy=$(mktemp -d); trap 'rm -rf "$copy"' EXIT
cp -r "$src" "$copy/src"
bash "$rules" "$copy/src" >/dev/null
for breach in 'engine/query.cpp:core/search_keys.h' 'cards/card_editor.cpp:engine/sqlcipher/sqlcipher_connection.h' \
              'formats/gbk.cpp:core/card_fields.h' 'core/backup.cpp:app/dialogs.h'; do
  file="${breach%%:*}"; header="${breach#*:}"
  cp "$src/$file" "$copy/src/$file"
  echo "#include \"$header\"" >>"$copy/src/$file"
  if out=$(bash "$rules" "$copy/src"); then echo "not caught: $file including $header"; exit 1; fi
  grep -q "^$file:[0-9]*: .*\"$header\"" <<<"$out" || { echo "not named: $out"; exit 1; }
  cp "$src/$file" "$copy/src/$file"
done
echo "include check catches each breach and names its file"
