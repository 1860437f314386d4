#!/usr/bin/env bash
# Saves one project over and over and kills the saving process (kill -9) at
# random moments; after each kill the project folder must open as the project
# of the last save begun (new), of the one before it (old), or the open must
# say the project is damaged. Prints each round and the counts; exits non-zero
# on any other outcome. Not part of the test command.
#
#   ./scripts/kill-save-loop.sh [BUILD_DIR] [ROUNDS] [RECORDS]
# Needs a build with tests (BUILD_DIR/tests/save_kill_probe).
set -euo pipefail

build=${1:-build}
rounds=${2:-50}
records=${3:-3000000}
probe="$build/tests/save_kill_probe"
[ -x "$probe" ] || { echo "no $probe: build the tests first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-kill-save-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$probe" prepare "$work" "$records"

# A first whole project to save over.
"$probe" loop "$work" 1 > "$work/log" & pid=$!
until grep -q '^done 1$' "$work/log"; do sleep 0.05; done
kill -9 "$pid"; wait "$pid" 2>/dev/null || true

next=$(( $("$probe" check "$work" | awk '$1 == "complete" { print $2 }') + 1 ))
new=0 old=0 damaged=0 faults=0 cut=0 made=0
for round in $(seq 1 "$rounds"); do
    "$probe" loop "$work" "$next" > "$work/log" & pid=$!
    sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
    kill -9 "$pid"; wait "$pid" 2>/dev/null || true
    begun=$(awk '$1 == "start" { k = $2 } END { print k + 0 }' "$work/log")
    left=$(find "$work/project" -mindepth 1 -name 'p.*.saving*' | wc -l)
    [ -e "$work/project/p.usb.commit" ] && committed=", made but not yet in place" || committed=
    cut=$((cut + (left > 0 ? 1 : 0))) made=$((made + (${#committed} > 0 ? 1 : 0)))
    verdict=$("$probe" check "$work" || true)
    read -r kind number _ <<< "$verdict"
    case "$kind" in
    complete)
        if [ "$begun" -ne 0 ] && [ "$number" -eq "$begun" ]; then new=$((new + 1)); what=new
        elif [ "$number" -eq $((begun == 0 ? next - 1 : begun - 1)) ]; then old=$((old + 1)); what=old
        else faults=$((faults + 1)); what=FAULT
        fi
        next=$((number + 1)) ;;
    damaged) damaged=$((damaged + 1)); what=damaged ;;
    *) faults=$((faults + 1)); what=FAULT ;;
    esac
    printf 'round %2d: last save begun %s (%d temporaries%s), the folder opens as: %s (%s)\n' \
        "$round" "$begun" "$left" "$committed" "$verdict" "$what"
    # Leftovers of the killed save are the open's to remove.
    leftovers=$(find "$work/project" -mindepth 1 -not -name 'p.usb' -not -name 'p.ph' -not -name 'p.data' | wc -l)
    [ "$leftovers" -eq 0 ] || { echo "  $leftovers temporaries left after the open"; faults=$((faults + 1)); }
done
echo "rounds $rounds: new $new, old $old, damaged $damaged, faults $faults;" \
     "killed mid-save (temporaries left) $cut, of them after the save was made $made"
[ "$faults" -eq 0 ]
