#!/usr/bin/env bash
# What Orca, the screen reader, speaks for the keys of the tree on the sample
# outline (tools/screen_reader.sh runs it with the program under Xvfb). Each
# key must be heard with what it did: the item reached, opened or closed, the
# field entered with the item it edits, a new item with its place, the item a
# delete lands on, a pasted item at its place, the item a cut lands on, the
# find field entered, its count as it changes and the item a step reaches,
# a redo with nothing to redo. Orca keeps
# Insert, its own key on the desktop layout.
#
#   screen_reader_test.sh BUILD_DIR
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)

steps=(Down Left Left Right F2 Escape ctrl+n F2 Escape Delete Insert ctrl+c ctrl+v ctrl+x ctrl+shift+v
       ctrl+f p l u Return F3 Escape ctrl+y)
heard=$("$here/../tools/screen_reader.sh" --build "$build" "${steps[@]}" 2>&1)
status=$?
echo "$heard"
((status == 0)) || { echo "FAIL: tools/screen_reader.sh ended with status $status"; exit 1; }

# One pattern a step, start-up first (extended regular expressions).
expected=(
    '^start-up: .*Items tree.*Move the sink drain\. level 4, 1 of 2'
    '^Down: .*New shut-off valves\. level 4, 2 of 2'
    '^Left: .*Plumbing expanded\. level 3, 3 of 3'
    '^Left: .*Plumbing collapsed\. level 3, 3 of 3'
    '^Right: .*Plumbing expanded\. level 3, 3 of 3'
    '^F2: .*Item text text\. Plumbing selected\. Edits the item “Plumbing”'
    '^Escape: .*Plumbing expanded\. level 3, 3 of 3'
    '^ctrl\+n: .*new item\. level 3, 4 of 4'
    '^F2: .*Item text text\..*Edits an item without text'
    '^Escape: .*new item\. level 3, 4 of 4'
    '^Delete: .*Plumbing expanded\. level 3, 3 of 3'
    '^Insert: '
    '^ctrl\+c: '
    '^ctrl\+v: .*Plumbing expanded\. level 3, 4 of 4'
    '^ctrl\+x: .*Plumbing expanded\. level 3, 3 of 3'
    '^ctrl\+shift\+v: .*Plumbing expanded\. level 4, 1 of'
    '^ctrl\+f: .*notification Find'
    '^p: .*4 of 7'
    '^l: .*4 of 4'
    '^u: .*1 of 2'
    '^Return: .*1 of 2: Plumbing'
    '^F3: .*2 of 2: Plumbing'
    '^Escape: .*Plumbing expanded\. level 4, 1 of 3'
    '^ctrl\+y: .*Nothing to redo'
)
mapfile -t lines < <(grep -E '^(start-up|[^ ]+): ' <<<"$heard" | grep -v "^Orca's debug log")
failed=0
for i in "${!expected[@]}"; do
    if ! grep -qE "${expected[i]}" <<<"${lines[i]:-}"; then
        echo "FAIL: step $i heard \"${lines[i]:-nothing}\", wanted /${expected[i]}/"
        failed=1
    fi
done
grep -q 'Orca kept the press of Insert for itself' <<<"$heard" \
    || { echo "FAIL: Insert reached the program, not Orca"; failed=1; }
exit $failed
