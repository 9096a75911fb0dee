#!/usr/bin/env bash
# The install step, as a user runs it: into a fresh prefix, then again over a
# store the user has changed (the store must survive), with the desktop entry
# valid and the launchers working; then the uninstall script, which leaves
# the store.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
home=$prefix/lib/branchkeeper
for f in "$home/branchkeeper" "$home/branchkeeper-store" "$home/dbPro.mdb" "$home/pic1/moveup.bmp" \
         "$home/pic2/moveup@2x.bmp" "$home/uninstall" "$prefix/bin/branchkeeper" "$prefix/bin/branchkeeper-store" \
         "$prefix/share/applications/branchkeeper.desktop" "$prefix/share/icons/hicolor/32x32/apps/branchkeeper.png"; do
    [[ -e $f ]] || fail "not installed: $f"
done
desktop-file-validate "$prefix/share/applications/branchkeeper.desktop" || fail "the desktop entry is not valid"
grep -qx "Exec=$prefix/bin/branchkeeper" "$prefix/share/applications/branchkeeper.desktop" \
    || fail "the desktop entry does not start the launcher"
# The launcher finds the program's folder wherever the prefix is.
"$prefix/bin/branchkeeper-store" check "$home/dbPro.mdb" || fail "the launcher does not run the tool"

# The user's data: changed, then the program installed again over it.
"$prefix/bin/branchkeeper-store" backup "$home/dbPro.mdb" "$prefix/mine.mdb"
sqlite3 "$home/dbPro.mdb" "UPDATE TbTree SET KeyTxt = 'my own words' WHERE KeyInd = 1"
cmake --install "$build" --prefix "$prefix" >/dev/null
[[ $(sqlite3 "$home/dbPro.mdb" "SELECT KeyTxt FROM TbTree WHERE KeyInd = 1") == "my own words" ]] \
    || fail "reinstalling replaced the user's store"

"$home/uninstall" >/dev/null
for f in "$home/branchkeeper" "$home/pic1" "$prefix/bin/branchkeeper" "$prefix/share/applications/branchkeeper.desktop"; do
    [[ ! -e $f ]] || fail "left after uninstall: $f"
done
[[ -f $home/dbPro.mdb ]] || fail "uninstall removed the user's store"
echo "installed, reinstalled over a changed store, uninstalled: the store survived"
