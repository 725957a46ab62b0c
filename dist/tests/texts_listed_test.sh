#!/usr/bin/env bash
# Every text the programs show through the translation helper with a string
# literal (Translate("..."), SetUiText(object, "...")) must be in the text
# list that "ui.local" is made from; texts built at run time are exempt.
# Usage: texts_listed_test.sh <source root> <texts.txt>
set -euo pipefail
root="$1"
list="$2"
[ -r "$list" ] || { echo "cannot read $list" >&2; exit 1; }

folders=()
for d in configurator monitor macro toolkit; do
  [ -d "$root/$d" ] && folders+=("$root/$d")
done
mapfile -t sources < <(find "${folders[@]}" \( -path '*/tests' -o -path '*/fuzz' \) -prune -o \
                         -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
[ ${#sources[@]} -gt 0 ] || { echo "no sources under $root" >&2; exit 1; }

# One "file<TAB>text" line per call. The literal may be bare or wrapped in
# QStringLiteral/QLatin1String/QString::fromUtf8/fromLatin1/tr, u"..."
# included; for SetUiText it is the second argument. A literal completed by
# .arg() is built at run time and left out. A literal with a
# newline escape is reported as such: a line of the list cannot hold it.
found=$(perl -0777 -ne '
  my $file = $ARGV;
  s{//[^\n]*}{}g; s{/\*.*?\*/}{}gs;
  my $lit = qr{(?:(?:QStringLiteral|QLatin1String|QLatin1StringView|QString::fromUtf8|QString::fromLatin1|QStringView|tr)\s*\(\s*)?u?8?"((?:[^"\\]|\\.)*)"(?!\s*\)?\s*\.\s*arg\s*\()};
  while (/\b(Translate)\s*\(\s*$lit/g)            { print "$file\t$2\n"; }
  while (/\b(SetUiText)\s*\([^,;()]*(?:\([^()]*\)[^,;()]*)*,\s*$lit/g) { print "$file\t$2\n"; }
' "${sources[@]}")

missing=0
checked=0
while IFS=$'\t' read -r file text; do
  [ -n "$file" ] || continue
  checked=$((checked + 1))
  if [[ "$text" == *'\n'* || "$text" == *'\r'* ]]; then
    echo "${file#"$root"/}: \"$text\" holds a line break; ui.local cannot translate it"
    missing=$((missing + 1))
    continue
  fi
  # C escapes of quotes and backslashes as the program sees them.
  text="${text//\\\"/\"}"
  text="${text//\\\\/\\}"
  if ! grep -qxF -- "$text" "$list"; then
    echo "${file#"$root"/}: \"$text\" is not in ${list#"$root"/}"
    missing=$((missing + 1))
  fi
done <<< "$found"

echo "$checked translated literals checked, $missing missing"
[ "$missing" = 0 ]
