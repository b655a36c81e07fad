#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the tree as a desktop would use it:
# programs with their manual pages, a valid launcher, the chart file type and the icons.
# Usage: install-tree.sh BUILD_DIR
set -uo pipefail

build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

prefix=/usr/local
root=$tmp/root
if ! DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi
p=$root$prefix
share=$p/share

# DESTDIR is honoured: nothing lands outside DESTDIR/PREFIX.
outside=$(cd "$root" && find . -type f ! -path ".$prefix/*")
[ -z "$outside" ] || fail "installed outside the prefix: $outside"

# Only what a user needs is installed (no test programs, generators or build files).
while IFS= read -r f; do
  case $f in
    bin/* | share/applications/glimstep.desktop | share/mime/packages/glimstep.xml | \
      share/icons/hicolor/*/apps/glimstep.png | share/man/man1/*.1 | lib/glimstep/glimstep-*.so | \
      lib/*/glimstep/glimstep-*.so) ;;
    *) fail "unexpected installed file $f" ;;
  esac
done < <(cd "$p" && find . -type f | sed 's|^\./||')

# Every program is executable and has a manual page; every page belongs to a program.
[ -x "$p/bin/glimstep" ] || fail "bin/glimstep missing or not executable"
for exe in "$p"/bin/*; do
  name=$(basename "$exe")
  [ -x "$exe" ] || fail "bin/$name is not executable"
  [ -f "$share/man/man1/$name.1" ] || fail "no manual page for $name"
done
for page in "$share"/man/man1/*.1; do
  name=$(basename "$page" .1)
  [ -x "$p/bin/$name" ] || fail "manual page $name.1 without a program"
  # man runs preconv (-k) for UTF-8 input; -ww turns on every warning.
  warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns on $name.1: $warnings"
  text=$(MANWIDTH=80 man -l "$page" 2>"$tmp/man.err")
  [ -s "$tmp/man.err" ] && fail "man -l $name.1: $(cat "$tmp/man.err")"
  grep -q "^NAME" <<<"$text" || fail "$name.1 renders without a NAME section"
  grep -q "^ *$name " <<<"$text" || fail "$name.1 does not name $name"
  grep -q "EXIT STATUS" <<<"$text" || fail "$name.1 has no EXIT STATUS"
  grep -q "@[A-Z_]*@" "$page" && fail "$name.1 has an unexpanded placeholder"
done

# The codec modules, in one folder under the library folder, where the programs look for them.
modules=$(cd "$p" && find lib -name 'glimstep-*.so' -printf '%h\n' 2>/dev/null | sort -u)
[ "$(wc -l <<<"$modules")" -eq 1 ] && [ -n "$modules" ] || fail "the modules are not in one folder: $modules"
for module in movie picture sound midi; do
  file=$p/$modules/glimstep-$module.so
  [ "$(head -c 4 "$file" 2>/dev/null | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || fail "module $module missing or not a shared object"
done

# The launcher.
entry=$share/applications/glimstep.desktop
if [ -f "$entry" ]; then
  report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
  grep -Eq "(error|warning):" <<<"$report" && fail "desktop-file-validate: $report"
  grep -qx "Exec=glimstep %f" "$entry" || fail "Exec is not 'glimstep %f'"
  grep -qx "Terminal=false" "$entry" || fail "Terminal is not false"
  grep -qx "Categories=Game;Music;" "$entry" || fail "Categories are not Game;Music;"
  grep -qx "Icon=glimstep" "$entry" || fail "Icon is not glimstep"
  # The second action opens a chart in the extended reading.
  grep -qx "Actions=extended;" "$entry" || fail "Actions is not 'extended;'"
  action=$(sed -n '/^\[Desktop Action extended\]$/,/^\[/p' "$entry")
  grep -qx "Name=Play every channel" <<<"$action" || fail "the extended action is not named 'Play every channel'"
  grep -qx "Exec=glimstep --extended %f" <<<"$action" || fail "the extended action's Exec is not 'glimstep --extended %f'"
  entry_type=$(sed -n 's/^MimeType=\([^;]*\);.*/\1/p' "$entry")
  [ -n "$entry_type" ] || fail "no MimeType in the launcher"
  # What file managers read to offer "Open with".
  if update-desktop-database "$share/applications" 2>"$tmp/udd.err"; then
    grep -qx "$entry_type=glimstep.desktop;" "$share/applications/mimeinfo.cache" ||
      fail "the desktop database does not offer glimstep.desktop for $entry_type"
    rm -f "$share/applications/mimeinfo.cache"
  else
    fail "update-desktop-database: $(cat "$tmp/udd.err")"
  fi
else
  fail "share/applications/glimstep.desktop missing"
fi

# The chart type: a valid shared-mime-info package that maps any letter case of .bms, .bme, .bml
# and .pms to the launcher's type, below text/plain.
xml=$share/mime/packages/glimstep.xml
xmllint --noout "$xml" 2>"$tmp/xmllint.err" || fail "xmllint: $(cat "$tmp/xmllint.err")"
if XDG_DATA_DIRS=$share update-mime-database "$share/mime" >"$tmp/umd.log" 2>&1; then
  [ -s "$tmp/umd.log" ] && fail "update-mime-database complains: $(cat "$tmp/umd.log")"
  # The type that the database gives a file name, read from globs2 (weight:type:glob[:flags]);
  # a glob without the cs flag matches regardless of letter case.
  lookup() {
    local name=$1 lower best="" weight type glob flags
    lower=${name,,}
    while IFS=: read -r weight type glob flags; do
      [[ $weight == \#* ]] && continue
      if [[ $flags == *cs* ]]; then
        # shellcheck disable=SC2053
        [[ $name == $glob ]] && { best=$type; break; }
      else
        # shellcheck disable=SC2053
        [[ $lower == ${glob,,} ]] && { best=$type; break; }
      fi
    done <"$share/mime/globs2"
    echo "$best"
  }
  for name in Song.BMS song.bms Song.Bms song.bme Song.BML song.Pms; do
    got=$(lookup "$name")
    [ "$got" = "$entry_type" ] || fail "$name maps to '$got', not the launcher's '$entry_type'"
  done
  for name in song.bmx song.bms.txt song; do
    got=$(lookup "$name")
    [ "$got" != "$entry_type" ] || fail "$name maps to $entry_type"
  done
  grep -qx "$entry_type text/plain" "$share/mime/subclasses" || fail "$entry_type is not a sub-class of text/plain"
  grep -qx "$entry_type" "$share/mime/types" || fail "$entry_type is not in the database's type list"
else
  fail "update-mime-database: $(cat "$tmp/umd.log")"
fi

# Icons: a PNG of the size its folder names.
for size in 32 48 64 128 256; do
  icon=$share/icons/hicolor/${size}x${size}/apps/glimstep.png
  if [ ! -f "$icon" ]; then
    fail "icon ${size}x${size} missing"
    continue
  fi
  signature=$(od -An -tx1 -N8 "$icon" | tr -d ' \n')
  [ "$signature" = 89504e470d0a1a0a ] || fail "icon ${size}x${size} is not a PNG"
  width=$((16#$(od -An -tx1 -j16 -N4 "$icon" | tr -d ' \n')))
  height=$((16#$(od -An -tx1 -j20 -N4 "$icon" | tr -d ' \n')))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "icon ${size}x${size} is ${width}x${height}"
done

# Without DESTDIR the prefix alone decides where things go.
if cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install2.log" 2>&1; then
  [ -x "$tmp/prefix/bin/glimstep" ] || fail "--prefix alone: bin/glimstep missing"
  [ -f "$tmp/prefix/share/applications/glimstep.desktop" ] || fail "--prefix alone: launcher missing"
else
  fail "cmake --install --prefix: $(cat "$tmp/install2.log")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install tree OK"
