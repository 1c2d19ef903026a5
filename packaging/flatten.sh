#!/usr/bin/env bash
# Merges the kit's tables into a package built by another tool (wixl), as a
# merge tool would merge a module in: for each table of the folders and
# .idt files given, the package's own rows (if it has the table) and the
# kit's rows are joined, identical rows once, and the table is imported with
# msibuild.
# Tables named Module* belong to merge modules and are left out. A table
# whose columns differ from the package's is refused.
#
#   packaging/flatten.sh PACKAGE.msi DLL FOLDER-OR-IDT...
#
# DLL is the vrinca.dll of the package's architecture: the stream of the kit's
# Binary row. Needs msibuild and msiinfo (Debian's msitools).
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 PACKAGE.msi vrinca.dll KIT-FOLDER-OR-IDT..." >&2
  exit 2
fi
package=$(realpath "$1")
dll=$(realpath "$2")
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Binary"
cp "$dll" "$work/Binary/vrinca.dll"

declare -A sources=()
order=()
for source in "$@"; do
  if [ -d "$source" ]; then set -- "$source"/*.idt; else set -- "$source"; fi
  for idt in "$@"; do
    table=$(basename "$idt" .idt)
    case "$table" in Module*) continue ;; esac
    # Other streams lie in a Binary folder beside Binary.idt, as msidb and
    # Orca export them.
    if [ "$table" = Binary ] && [ -d "$(dirname "$idt")/Binary" ]; then
      cp "$(dirname "$idt")"/Binary/* "$work/Binary/"
    fi
    if [ -z "${sources[$table]:-}" ]; then order+=("$table"); fi
    sources[$table]+="$(realpath "$idt") "
  done
done

for table in "${order[@]}"; do
  read -r -a files <<<"${sources[$table]}"
  header=$(head -n 3 "${files[0]}")
  existing=""
  if msiinfo tables "$package" | grep -qx "$table"; then
    existing=$(msiinfo export "$package" "$table" | tr -d '\r')
    if [ "$(head -n 1 <<<"$existing")" != "$(head -n 1 <<<"$header")" ]; then
      echo "flatten: the package's $table table has the columns \"$(head -n 1 <<<"$existing")\"," \
        "the kit's \"$(head -n 1 <<<"$header")\"" >&2
      exit 1
    fi
  fi
  # Key columns lead each row; the kit's rows come after the package's, so
  # the kit's Binary row replaces the package's stream of the same name,
  # and any other key that comes twice with different values is refused.
  keys=$(($(sed -n 3p <<<"$header" | awk -F'\t' '{ print NF }') - 1))
  {
    printf '%s\n' "$header"
    {
      if [ -n "$existing" ]; then tail -n +4 <<<"$existing" | sed 's/^/P\t/'; fi
      for file in "${files[@]}"; do
        if [ "$(head -n 1 "$file")" != "$(head -n 1 <<<"$header")" ]; then
          echo "flatten: $file has other columns than ${files[0]}" >&2
          exit 1
        fi
        tail -n +4 "$file" | tr -d '\r' | sed 's/^/K\t/'
      done
    } | awk -F'\t' -v keys="$keys" -v table="$table" '
      NF < 2 { next }
      { origin = $1; row = substr($0, 3); key = $2; for (i = 3; i <= keys + 1; i++) key = key "\t" $i }
      row in seen { next }
      { seen[row] = 1 }
      key in rows && table == "Binary" && origin == "K" { rows[key] = row; next }
      key in rows { print "flatten: " table ": two rows with the key \"" key "\"" > "/dev/stderr"; failed = 1; next }
      { rows[key] = row; order[++n] = key }
      END { if (failed) exit 1; for (i = 1; i <= n; i++) print rows[order[i]] }'
  } >"$work/$table.idt"
  # Streams the package holds already go back in with their rows.
  if [ "$table" = Binary ] && [ -n "$existing" ]; then
    tail -n +4 <<<"$existing" | while IFS=$'\t' read -r name data; do
      msiinfo extract "$package" "Binary.$name" >"$work/Binary/$data"
    done
  fi
  (cd "$work" && msibuild "$package" -i "$table.idt")
done
