#!/usr/bin/env bash
# The MSI package in the tier's prefix, one step a case, in this order (each
# takes the prefix as the one before left it):
#   msi-cases.sh package      the package, and one of a lower version from the same
#                             programs (scripts/package-windows): built without
#                             warnings, the project's version, two product codes
#   msi-cases.sh install      msiexec /i /qn: the files, the shortcut, the list of
#                             installed programs, the programs and their resources
#   msi-cases.sh remove       msiexec /x: nothing of ours is left
#   msi-cases.sh upgrade      the lower version, then this one over it: one entry
#   msi-cases.sh refuse-older the lower version is refused over this one
#   msi-cases.sh remove-upgraded  msiexec /x: nothing of ours is left
source "$(dirname "$0")/tier.sh"
msi=$tier/msi/package.msi
old=$tier/msi/package-old.msi

msi_old_version=3.2.9

# Wine's menu builder would copy the Start menu shortcut into the desktop's
# menu of the user who runs the tests; the prefix's own shortcut is what is
# looked at.
msi_wine() { WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" win "$@"; }
# msi_exec /i|/x MSI: msiexec without its window.
msi_exec() { msi_wine msiexec "$1" "$(msi_winpath "$2")" /qn >"$work/msiexec.log" 2>&1; }
msi_dir="$WINEPREFIX/drive_c/Program Files/Varnis"
# msi_shortcut: the Start menu shortcuts Varnis.lnk in the prefix. A
# per-machine shortcut belongs in the common Start menu; Wine 8's msiexec
# puts it in the user's, so either is accepted where one is looked for.
msi_shortcut() { find "$WINEPREFIX/drive_c" -name Varnis.lnk -path '*/Start Menu/Programs/*' 2>/dev/null; }
msi_winpath() { local path=${1//\//\\}; echo "Z:$path"; }

# msi_registry ROOT: the prefix's registry under ROOT (HKEY_...) as text.
msi_registry() {
  rm -f "$work/export.reg"
  msi_wine regedit /E "$(msi_winpath "$work/export.reg")" "$1" >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$work/export.reg" 2>/dev/null | tr -d '\r'
}
# msi_entries: "VERSION PUBLISHER" of each Varnis entry in the list of
# installed programs, one a line.
msi_entries() {
  msi_registry 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall' | awk -F'"' '
    /^\[/ { if (name == "Varnis") print version " " publisher; name = version = publisher = "" }
    $2 == "DisplayName" { name = $4 } $2 == "DisplayVersion" { version = $4 } $2 == "Publisher" { publisher = $4 }
    END { if (name == "Varnis") print version " " publisher }'
}
# msi_packed GUID: the form Windows Installer keys its registry by.
msi_packed() {
  python3 -c 'import sys; g = sys.argv[1].strip("{}").replace("-", "")
print(g[7::-1] + g[11:7:-1] + g[15:11:-1] + "".join(g[i + 1] + g[i] for i in range(16, 32, 2)))' "$1"
}
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }

# msi_left_over: what of ours is still in the prefix, one thing a line.
msi_left_over() {
  local root
  [ -e "$msi_dir" ] && echo "folder Program Files\\Varnis"
  msi_shortcut | sed "s|^$WINEPREFIX/|shortcut |"
  find "$WINEPREFIX/drive_c/windows/Installer" -mindepth 1 2>/dev/null | sed "s|^$WINEPREFIX/|cached |"
  # Every key whose name or values name us or one of the package's codes.
  for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    msi_registry "$root" | awk -v codes="$(printf '%s\n' varnis "${msi_codes[@]}")" '
      BEGIN { n = split(tolower(codes), code, "\n") }
      /^\[/ { key = $0 }
      { line = tolower($0); for (i = 1; i <= n; i++) if (code[i] != "" && index(line, code[i])) { print "key " key; next } }'
  done | sort -u
}

# msi_check_installed NAME VERSION: the files, the shortcut and one entry.
msi_check_installed() {
  local name=$1 version=$2 problems="" file shortcut=""
  for file in "${msi_files[@]}"; do
    [ -f "$msi_dir/$file" ] || problems+="no $file; "
  done
  shortcut=$(msi_shortcut | head -n 1)
  if [ -z "$shortcut" ]; then
    problems+="no Start menu shortcut; "
  elif ! grep -a -q -F 'C:\Program Files\Varnis\varnis.exe' "$shortcut"; then
    problems+="the shortcut does not lead to varnis.exe; "
  fi
  local entries
  entries=$(msi_entries)
  [ "$entries" = "$version $msi_publisher" ] || problems+="installed programs list '$(echo "$entries" | tr '\n' ',')'; "
  local icon
  icon=$(msi_registry 'HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products' | sed -n 's/^"ProductIcon"="\(.*\)"$/\1/p')
  icon=${icon//\\\\/\/}
  [ -n "$icon" ] && [ -f "$WINEPREFIX/drive_c/${icon#C:/}" ] || problems+="no product icon ('$icon'); "
  [ -z "$problems" ] && pass "$name" || fail "$name" "$problems"
}

# msi_check_resources EXE DESCRIPTION ICON_ID: the installed program's
# version resource and icon, as Windows reads them.
msi_check_resources() {
  local exe=$1 description=$2 icon_id=$3 got want
  got=$(win "$probes/resource-probe.exe" 'C:\Program Files\Varnis\'"$exe" 2>&1 | tr -d '\r')
  want="ProductName: Varnis
FileDescription: $description
FileVersion: $msi_version
ProductVersion: $msi_version
LegalCopyright: $(grep -m 1 '^Copyright ' "$root/LICENSE")
OriginalFilename: $exe
CompanyName: $msi_publisher
fixed: $msi_version.0
icon $icon_id: 16 32 48 64 128"
  [ "$got" = "$want" ] && pass "msi: $exe's version resource and icon" \
    || fail "msi: $exe's version resource and icon" "$(echo "$got" | tr '\n' '|')"
}

# msi_check_removed NAME MSI: msiexec /x removes everything of ours.
msi_check_removed() {
  local left
  if ! msi_exec /x "$2"; then
    fail "$1" "msiexec /x failed: $(tr -d '\r' <"$work/msiexec.log" | tr '\n' ' ')"
    return
  fi
  left=$(msi_left_over)
  [ -z "$left" ] && pass "$1" || fail "$1" "left behind: $(echo "$left" | tr '\n' ';')"
}

# msi_facts: what the package says of itself, and the codes of ours.
msi_facts() {
  msi_version=$(msi_property "$msi" ProductVersion)
  msi_publisher=$(msi_property "$msi" Manufacturer)
  mapfile -t msi_files < <(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 }')
  upgrade_code=$(msi_property "$msi" UpgradeCode)
  new_code=$(msi_property "$msi" ProductCode)
  old_code=$(msi_property "$old" ProductCode)
  msi_codes=("$upgrade_code" "$new_code" "$old_code")
  msi_codes+=("$(msi_packed "$upgrade_code")" "$(msi_packed "$new_code")" "$(msi_packed "$old_code")")
}

case "${1:-}" in
  package)
    rm -rf "$tier/msi"
    package="$root/scripts/package-windows"
    if ! built=$("$package" --output "$work/new" 2>"$work/package.log" | tail -n 1) || [ ! -f "$built" ]; then
      fail "msi: the package builds without warnings" "$(tr '\n' ' ' <"$work/package.log")"
      verdict
    fi
    pass "msi: the package builds without warnings"
    echo "msi: $(basename "$built"): $(stat -c %s "$built") bytes"
    if ! built_old=$("$package" --version "$msi_old_version" --output "$work/old" 2>"$work/package.log" | tail -n 1); then
      fail "msi: a package of version $msi_old_version builds" "$(tr '\n' ' ' <"$work/package.log")"
      verdict
    fi
    mkdir -p "$tier/msi" && cp "$built" "$msi" && cp "$built_old" "$old"
    msi_facts
    version_cmake=$(sed -n 's/^project(Varnis VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
    check "msi: version and product code" "version '$msi_version' (project $version_cmake), codes $new_code $old_code" \
      test "$msi_version" = "$version_cmake" -a "$new_code" != "$old_code" ;;
  install)
    msi_facts
    if msi_exec /i "$msi"; then
      msi_check_installed "msi: installed per machine (files, shortcut, one entry)" "$msi_version"
    else
      fail "msi: msiexec /i" "$(tr -d '\r' <"$work/msiexec.log" | tr '\n' ' ')"
    fi
    for exe in varnis-cli varnis; do
      printf '%s\n' "${msi_files[@]}" | grep -qx "$exe.exe" || continue
      out=$(msi_wine "C:\\Program Files\\Varnis\\$exe.exe" --version </dev/null 2>&1 | tr -d '\r')
      check "msi: installed $exe.exe --version" "'$out'" test "$out" = "$exe $msi_version"
    done
    msi_check_resources varnis-cli.exe "Varnis command line" 1
    printf '%s\n' "${msi_files[@]}" | grep -qx varnis.exe &&
      msi_check_resources varnis.exe "Varnis card configuration window" 128 ;;
  remove) msi_facts; msi_check_removed "msi: msiexec /x leaves nothing of ours" "$msi" ;;
  upgrade)
    msi_facts
    msi_exec /i "$old" && msi_exec /i "$msi" &&
      msi_check_installed "msi: upgrade from $msi_old_version leaves one entry" "$msi_version" ||
      fail "msi: upgrade from $msi_old_version" "$(tr -d '\r' <"$work/msiexec.log" | tr '\n' ' ')" ;;
  refuse-older)
    msi_facts
    if msi_exec /i "$old"; then
      fail "msi: the older package is refused over the newer" "msiexec /i succeeded"
    else
      check "msi: the older package is refused over the newer" "entries '$(msi_entries | tr '\n' ',')'" \
        test "$(msi_entries)" = "$msi_version $msi_publisher"
    fi ;;
  remove-upgraded) msi_facts; msi_check_removed "msi: msiexec /x after the upgrade leaves nothing of ours" "$msi" ;;
  *) echo "msi-cases.sh: no case '${1:-}'" >&2; exit 2 ;;
esac
verdict
