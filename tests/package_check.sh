#!/usr/bin/env bash
# The .deb as `make package` builds it: the programs, their manual pages,
# the desktop entry and the metadata are in it, and the programs run from
# an unpacked copy and report the project's version.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >/dev/null 2>&1
deb=$(ls "$work"/marvalo_"$version"_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
for path in ./usr/share/applications/marvalo.desktop ./usr/share/metainfo/org.example.Marvalo.metainfo.xml \
            ./usr/share/icons/hicolor/48x48/apps/marvalo.png ./usr/share/doc/marvalo/copyright; do
  grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; missing=1; }
done
dpkg-deb -x "$deb" "$work/root"
for program in marvalo marvalo-send marvalo-frame marvalo-sim; do
  for path in ./usr/bin/$program ./usr/share/man/man1/$program.1.gz; do
    grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; missing=1; }
  done
  said=$("$work/root/usr/bin/$program" --version)
  [ "$said" = "$program $version" ] || { echo "$program --version said '$said'"; missing=1; }
  # Completion from the same options as --help: the first one, from its start,
  # with the line bash hands a completion function.
  option=$("$work/root/usr/bin/$program" --help | grep -oE ' --[a-z0-9-]+' | sed -n '1s/ //p')
  completed=$(bash -c 'source "$1"; COMP_WORDS=("$2" "${3:0:4}"); COMP_CWORD=1; COMP_LINE="$2 ${3:0:4}"; COMP_POINT=${#COMP_LINE}; "_${2//-/_}"; printf "%s\n" "${COMPREPLY[@]}"' _ "$work/root/usr/share/bash-completion/completions/$program" "$program" "$option")
  grep -qx -- "$option" <<<"$completed" || { echo "$program: completing ${option:0:4} does not offer $option"; missing=1; }
  page="$work/root/usr/share/man/man1/$program.1.gz"
  zcat "$page" | grep -q '^\.SH EJEMPLOS' ||
    { echo "the manual page of $program has no examples"; missing=1; }
  # As a reader sees it: every usage line under SINOPSIS and nothing of
  # them under DESCRIPCIÓN, and every option of --help an entry of its own,
  # its text on the next line or, for a short tag, from the entry column.
  rendered=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx)
  # help2man writes in its locale's encoding: under C, "serie…" and "núcleo"
  # come out "serie???" and "n??cleo".
  LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | grep -E '[[:alnum:]"]\?' && { echo "$program: characters of its manual page came out as ?"; missing=1; }
  # At a terminal's 80 columns no word is broken at a line's end.
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -E '[[:alnum:]]‐$' && { echo "$program: its manual page breaks words at line ends"; missing=1; }
  usages=$("$work/root/usr/bin/$program" --help | grep -cE '^(Modo de empleo|   o):')
  shown=$(awk '/^SINOPSIS/{s=1;next} /^DESCRIPCI/{exit} s && /^       [^ ]/' <<<"$rendered" | wc -l)
  [ "$usages" = "$shown" ] || { echo "$program: $usages usage lines, $shown under SINOPSIS"; missing=1; }
  awk '/^DESCRIPCI/{getline; print; exit}' <<<"$rendered" | grep -qE '^ +\[' &&
    { echo "$program: a usage line fell under DESCRIPCIÓN"; missing=1; }
  for option in $("$work/root/usr/bin/$program" --help | grep -oE '^  --[a-z0-9-]+' | sort -u); do
    awk -v o="$option" '
      # A tag alone on its line with the text below at the text column, or
      # a short tag with the text beside it from that column.
      index(previous, "       " o) == 1 && substr(previous, 8 + length(o), 1) ~ /^[ ,]?$/ &&
        $0 ~ /^              [^ ]/ { found = 1 }
      length(o) < 7 && index($0, sprintf("       %-7s", o)) == 1 && substr($0, 15, 1) != " " {
        found = 1
      }
      { previous = $0 }
      END { exit !found }' <<<"$rendered" ||
      { echo "$program: $option is not an entry of its manual page"; missing=1; }
  done
done
[ "$missing" = 0 ] && echo "package ok: $(basename "$deb")"
