#!/usr/bin/env bash
# The layers of src/, bottom up, and what each folder may include of the project's own headers:
# a folder includes the folders below it, never one above, and the windows never a concrete
# engine. Prints every include that breaks a rule, with its file and line, and fails on any.
set -uo pipefail
src="${1:?usage: include_rules.sh <src folder>}"
cd "$src" || exit 2

# folder (or file) : the include prefixes it may use
rules=(
  "engine:engine/"
  "formats:engine/result_set.h engine/engine_error.h formats/"
  "core:engine/ formats/ core/"
  "ui:engine/ formats/ core/ ui/"
  "app:engine/ formats/ core/ ui/ app/"
  "export:engine/ formats/ core/ ui/ app/ export/"
  "history:engine/ formats/ core/ ui/ app/ export/ history/"
  "settings:engine/ formats/ core/ ui/ app/ export/ settings/"
  "cards:engine/ formats/ core/ ui/ app/ export/ history/ settings/ cards/"
  "main.cpp:engine/ formats/ core/ ui/ app/ export/ history/ settings/ cards/"
)
# Above core, only the engine's interface: what differs between engines is a capability.
concrete="engine/sqlcipher/ engine/postgres/"

broken=0
for rule in "${rules[@]}"; do
  place="${rule%%:*}"
  allowed="${rule#*:}"
  [ -e "$place" ] || { echo "include_rules: no $place in $src"; broken=1; continue; }
  while IFS=: read -r file line text; do
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$text")
    # A header of the same folder, named without its folder.
    if [[ "$header" != */* ]]; then
      [ -e "$(dirname "$file")/$header" ] && continue
      echo "$file:$line: \"$header\" names no header of its own folder"; broken=1; continue
    fi
    ok=0
    for prefix in $allowed; do [[ "$header" == "$prefix"* ]] && ok=1; done
    if [[ "$place" != engine && "$place" != core ]]; then
      for prefix in $concrete; do [[ "$header" == "$prefix"* ]] && ok=0; done
    fi
    if [ $ok = 0 ]; then
      echo "$file:$line: $place may not include \"$header\""; broken=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' --include='*.in' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$place")
done
[ $broken = 0 ] && echo "include rules: every folder includes only the layers below it"
exit $broken
