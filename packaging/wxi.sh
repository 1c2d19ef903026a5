#!/usr/bin/env bash
# Writes a kit folder's rows as a WiX include: the Binary row, immediate DLL
# custom actions whose result is checked (type 1), and their places in the
# sequences as Custom elements with explicit numbers, which wixl and the WiX
# toolset both accept. The folder's .wxi files are made by it:
#
#   packaging/wxi.sh packaging/server >packaging/server/server.wxi
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 KIT-FOLDER" >&2
  exit 2
fi
folder=$1
rows() { tail -n +4 "$1" | tr -d '\r'; }

echo '<?xml version="1.0" encoding="utf-8"?>'
echo "<!-- Made from the .idt tables of this folder by packaging/wxi.sh: change those, not this file. -->"
echo '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">'
# Fields are split by awk: read would merge the empty fields of null columns.
if [ -f "$folder/Binary.idt" ]; then
  rows "$folder/Binary.idt" | awk -F'\t' '{ printf "  <Binary Id=\"%s\" SourceFile=\"%s\"/>\n", $1, $2 }'
fi
if [ -f "$folder/CustomAction.idt" ]; then
  rows "$folder/CustomAction.idt" | awk -F'\t' '
    $2 != 1 { print "wxi: " $1 ": only DLL actions of type 1 are written" > "/dev/stderr"; exit 1 }
    { printf "  <CustomAction Id=\"%s\" BinaryKey=\"%s\" DllEntry=\"%s\" Execute=\"immediate\" Impersonate=\"yes\" Return=\"check\"/>\n", $1, $3, $4 }'
fi
for sequence in InstallExecuteSequence InstallUISequence; do
  [ -f "$folder/$sequence.idt" ] || continue
  custom=$(rows "$folder/CustomAction.idt" 2>/dev/null | cut -f1)
  echo "  <$sequence>"
  # Rows of actions that are not this folder's custom actions (dialogs) are
  # the package's to write.
  rows "$folder/$sequence.idt" | awk -F'\t' -v custom="$custom" '
    BEGIN { n = split(custom, names, "\n"); for (i = 1; i <= n; i++) known[names[i]] = 1 }
    !($1 in known) { next }
    $2 == "" { printf "    <Custom Action=\"%s\" Sequence=\"%s\"/>\n", $1, $3; next }
    { c = $2; gsub(/&/, "\\&amp;", c); gsub(/</, "\\&lt;", c); gsub(/>/, "\\&gt;", c)
      printf "    <Custom Action=\"%s\" Sequence=\"%s\">%s</Custom>\n", $1, $3, c }'
  echo "  </$sequence>"
done
echo '</Include>'
