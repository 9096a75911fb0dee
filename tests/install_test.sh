#!/usr/bin/env bash
# The install step, as a user runs it, under prefixes a shell or a desktop
# entry treats specially: into a fresh prefix, then again over a store the
# user has changed (the store must survive), with the desktop entry valid and
# started by GLib, and the launchers working; then the uninstall script, which
# leaves the store and runs only as itself. Last, installs that must refuse.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v gio >/dev/null || fail "gio (Debian package libglib2.0-bin) is needed to start the desktop entry"
umask 022

# GLib starts ENTRY's command, as the desktop does; a stand-in LAUNCHER records its path.
started_by_glib() { # ENTRY LAUNCHER
    mv "$2" "$2.real" && printf '#!/bin/sh\nprintf %%s "$0" >"$0.tmp" && mv "$0.tmp" "$0.called"\n' >"$2" && chmod +x "$2"
    gio launch "$1" || true
    for _ in $(seq 100); do [[ -e $2.called ]] && break; sleep 0.1; done
    mv "$2.real" "$2" && [[ $(cat "$2.called" 2>/dev/null; rm -f "$2.called") == "$2" ]]
}

for name in plain "with space" "it's" 'a"quote' 'dollar$HOME' 'semi;colon' 'back`tick' 'per%ucent' 'Ünïcødé'; do
    prefix=$top/$name; home=$top/$name/lib/branchkeeper; entry=$top/$name/share/applications/branchkeeper.desktop
    cmake --install "$build" --prefix "$prefix" >/dev/null
    for f in "$home/branchkeeper" "$home/branchkeeper-store" "$home/dbPro.mdb" "$home/pic1/moveup.bmp" \
             "$home/pic2/moveup@2x.bmp" "$home/uninstall" "$prefix/bin/branchkeeper" "$prefix/bin/branchkeeper-store" \
             "$entry" "$prefix/share/icons/hicolor/32x32/apps/branchkeeper.png"; do
        [[ -e $f ]] || fail "$name: not installed: $f"
    done
    [[ $(stat -c %a "$home/dbPro.mdb") == 600 ]] || fail "$name: the new store is not readable by its owner alone"
    desktop-file-validate "$entry" || fail "$name: the desktop entry is not valid"
    started_by_glib "$entry" "$prefix/bin/branchkeeper" || fail "$name: the desktop entry does not start the launcher"
    # The launcher finds the program's folder wherever the prefix is.
    "$prefix/bin/branchkeeper-store" check "$home/dbPro.mdb" || fail "$name: the launcher does not run the tool"
    # The user's data: changed, then the program installed again over it.
    "$prefix/bin/branchkeeper-store" backup "$home/dbPro.mdb" "$home/mine.mdb"
    sqlite3 "$home/dbPro.mdb" "UPDATE TbTree SET KeyTxt = 'my own words' WHERE KeyInd = 1"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    [[ $(sqlite3 "$home/dbPro.mdb" "SELECT KeyTxt FROM TbTree WHERE KeyInd = 1") == "my own words" ]] \
        || fail "$name: reinstalling replaced the user's store"
    # The uninstall script refuses to run as a copy, fed to a shell (in its
    # folder or another) or sourced; the shell that sources it lives on.
    other=$top/other/$name; mkdir -p "$other/pic1" && touch "$other/pic1/moveup.bmp" && cp "$home/uninstall" "$other/"
    ! (cd "$other" && ./uninstall) 2>/dev/null || fail "$name: a copy of the uninstall script ran"
    for here in "$other" "$home"; do ! (cd "$here" && sh <"$home/uninstall") 2>/dev/null || fail "$name: sh < uninstall ran"; done
    [[ $(cd "$other" && bash -c '. "$1"; echo "lives on $?"' _ "$home/uninstall" 2>/dev/null) == "lives on 1" ]] \
        || fail "$name: sourcing the uninstall script did not refuse, or ended the shell"
    [[ -e $other/pic1/moveup.bmp && -e $home/branchkeeper ]] || fail "$name: a refused uninstall removed files"

    "$home/uninstall" >/dev/null
    for f in "$home/branchkeeper" "$home/pic1" "$prefix/bin/branchkeeper" "$entry"; do [[ ! -e $f ]] || fail "left: $f"; done
    [[ -f $home/dbPro.mdb && -f $home/mine.mdb ]] || fail "$name: uninstall removed the user's store or its copy"
    [[ $("$home/uninstall") == "Nothing to remove"* ]] || fail "$name: a second uninstall did not say nothing was left"
done

# Over what is no store, or a link to nothing, the install places nothing and leaves it untouched.
look() { ls -l --time-style=full-iso "$1"; cksum 2>/dev/null < "$1/dbPro.mdb" || true; }
while IFS='|' read -r kind make said; do
    home=$top/$kind/lib/branchkeeper; mkdir -p "$home" && (cd "$home" && eval "$make")
    before=$(look "$home")
    ! cmake --install "$build" --prefix "$top/$kind" >"$top/said" 2>&1 || fail "$kind: the install went ahead"
    tr -s ' \n' '  ' < "$top/said" | grep -qF "$said" || fail "$kind: the install did not say '$said': $(cat "$top/said")"
    [[ $(look "$home") == "$before" ]] || fail "$kind: the install changed dbPro.mdb"
    [[ ! -e $top/$kind/bin && ! -e $top/elsewhere.mdb ]] || fail "$kind: the refused install placed files"
done <<EOF
text|echo 'my notes' > dbPro.mdb|is not a store
empty|: > dbPro.mdb|is not a store
database|sqlite3 dbPro.mdb 'CREATE TABLE TbTree(x)'|is not a store
link|ln -s "$top/elsewhere.mdb" dbPro.mdb|is a symbolic link to $top/elsewhere.mdb, which does not exist
EOF
! (cd "$top" && cmake --install "$build" --prefix relative) >/dev/null 2>&1 && [[ ! -e $top/relative ]] \
    || fail "an install under a relative prefix, which the desktop entry cannot name, went ahead"
echo "installed, reinstalled over a changed store, uninstalled, under each prefix: the store survived"
