#!/usr/bin/env bash
# Installs the build into a throw-away prefix, as `cmake --install build --prefix ~/.local`
# does, and checks what a desktop sees: the programs, the menu entry, the icon, the
# AppStream description and the help page, each where it belongs and valid.
#
# usage: desktop_files.sh CMAKE BUILD-DIR CONFIGURED-PREFIX BINDIR DATAROOTDIR \
#                         HELP-PAGE-DEFINITION HELP-PAGE-FROM-BINDIR-DEFINITION
# The last two are the PARLOTE_HELP_PAGE... compile definitions of the appshell target.
set -uo pipefail
cmake=$1 build=$2 configured_prefix=$3 bindir=$4 datadir=$5 help_def=$6 help_rel_def=$7
app_id=io.github.parlote.Parlote

failures=0
ok() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
check() {  # check NAME COMMAND...
    local name=$1; shift
    if "$@"; then ok "$name"; else fail "$name"; fi
}

work=$(mktemp -d)
# `cmake --install` rewrites the build's install_manifest.txt; keep the user's own.
manifest=$build/install_manifest.txt
had_manifest=0
[ -f "$manifest" ] && cp -p "$manifest" "$work/manifest" && had_manifest=1
restore() {
    if [ "$had_manifest" -eq 1 ]; then cp -p "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$work"
}
trap restore EXIT
prefix="$work/prefix with space"  # a prefix a user may well have

if ! output=$("$cmake" --install "$build" --prefix "$prefix" 2>&1); then
    echo "FAIL cmake --install:"; echo "$output"
    exit 1
fi
ok "cmake --install into a new prefix"

desktop=$prefix/$datadir/applications/$app_id.desktop
icon=$prefix/$datadir/icons/hicolor/scalable/apps/$app_id.svg
metainfo=$prefix/$datadir/metainfo/$app_id.metainfo.xml
help=$prefix/$datadir/parlote/help/index.html

for program in parlote parlote-cli; do
    check "$bindir/$program is installed and executable" test -x "$prefix/$bindir/$program"
done
for file in "$desktop" "$icon" "$metainfo" "$help"; do
    check "${file#"$prefix"/} is installed" test -s "$file"
done
for program in parlote parlote-cli; do
    page=$prefix/$datadir/man/man1/$program.1.gz
    check "manual page ${page#"$prefix"/} is installed and compressed whole" gzip -t "$page"
done

# --- validators (installed by scripts/install-deps); exit 77 makes ctest report a skip
for tool in desktop-file-validate appstreamcli xmllint; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (./scripts/install-deps installs it)"
        exit 77
    fi
done

# --- the desktop entry
key() { sed -n "s/^$1=//p" "$desktop" | head -1; }
output=$(desktop-file-validate "$desktop" 2>&1)
status=$?
[ -n "$output" ] && echo "$output" | sed 's/^/     /'
if [ "$status" -ne 0 ] || grep -qE '(error|warning):' <<<"$output"; then
    fail "desktop-file-validate: status $status"
else
    ok "desktop-file-validate"
fi
check "desktop entry: Type=Application" test "$(key Type)" = Application
check "desktop entry: Name=Parlote" test "$(key Name)" = Parlote
check "desktop entry: Terminal=false" test "$(key Terminal)" = false
exec_program=$(key Exec | awk '{print $1}')
check "desktop entry: Exec ($exec_program) names an installed program" \
    test -x "$prefix/$bindir/$exec_program"
check "desktop entry: Icon names the installed icon" \
    test "$(key Icon)" = "$(basename "$icon" .svg)"
check "desktop entry: Categories hold a main category" \
    grep -qE '^Categories=(.*;)?(Network|Utility);' "$desktop"

# --- the icon
check "icon is well-formed SVG" xmllint --noout "$icon"
check "icon's root element is <svg>" \
    test "$(xmllint --xpath 'local-name(/*)' "$icon" 2>/dev/null)" = svg

# --- the AppStream description
output=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
echo "$output" | sed 's/^/     /'
if [ "$status" -ne 0 ] || grep -qE '^(E|W):' <<<"$output"; then
    fail "appstreamcli validate --no-net: status $status"
else
    ok "appstreamcli validate --no-net"
fi
xpath() { xmllint --xpath "$1" "$metainfo" 2>/dev/null; }
check "metainfo: id is $app_id" test "$(xpath 'string(/component/id)')" = "$app_id"
check "metainfo: launchable names the installed desktop entry" \
    test "$(xpath 'string(/component/launchable[@type="desktop-id"])')" = "$(basename "$desktop")"
check "metainfo: version 0.1.0 is released" \
    test "$(xpath 'string(/component/releases/release[1]/@version)')" = 0.1.0
for binary in $(xpath '/component/provides/binary/text()'); do
    check "metainfo: provided binary $binary is installed" test -x "$prefix/$bindir/$binary"
done

# --- the help page: polyglot HTML5, so an XML parser proves it well-formed
check "help page is well-formed" xmllint --noout "$help"
for section in first-steps models conversations data ollama troubleshooting keyboard; do
    check "help page has the section #$section" grep -q "<section id=\"$section\">" "$help"
done
missing_targets=0
for target in $(grep -o 'href="#[^"]*"' "$help" | sed 's/href="#//; s/"$//' | sort -u); do
    if ! grep -q "id=\"$target\"" "$help"; then
        echo "     link to #$target has no target"
        missing_targets=1
    fi
done
check "help page's links inside the page all have a target" test "$missing_targets" -eq 0
check "help page has a dark colour scheme" grep -q 'prefers-color-scheme: *dark' "$help"
self_contained() { ! grep -qiE '<link[^>]*stylesheet|<script[^>]*src' "$1"; }
check "help page loads no stylesheet or script from elsewhere" self_contained "$help"

# --- the compile definitions point at the installed page
unquote() { sed 's/^[A-Z_]*=//; s/^"//; s/"$//; s/\\"/"/g' <<<"$1"; }
help_page=$(unquote "$help_def")
help_from_bindir=$(unquote "$help_rel_def")
case "$help_page" in
    "$configured_prefix"/*)
        check "PARLOTE_HELP_PAGE ($help_page) is where the page is installed" \
            test -s "$prefix/${help_page#"$configured_prefix"/}" ;;
    *) fail "PARLOTE_HELP_PAGE ($help_page) is not under the prefix $configured_prefix" ;;
esac
check "PARLOTE_HELP_PAGE_FROM_BINDIR ($help_from_bindir) leads from $bindir to the page" \
    test -s "$prefix/$bindir/$help_from_bindir"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
