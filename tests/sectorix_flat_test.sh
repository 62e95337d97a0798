#!/bin/sh
# sectorix-flat under Wine, one case a run:
#   sectorix_flat_test.sh CASE WINE_RUN SECTORIX_FLAT_EXE CARDS_DIR WORK_DIR
# The card comes as a disk of the stand-in card service, whose image Windows
# sees on drive Z:.
set -u
case_name=$1 wine_run=$2 tool=$3 cards=$4 work=$5
service=$(dirname "$tool")/sectorix-card-service.exe

export SECTORIX_WINE_TIMEOUT=60
no_card_seconds=2
no_card_slack=10

rm -rf "$work"
mkdir -p "$work/logs"
output=$work/output

fail() {
    echo "FAIL ($case_name): $*"
    exit 1
}

case $case_name in
copies_the_card_of_the_service)
    image=$cards/demo_card.img copy=$work/copy.img
    "$(dirname "$0")/../scripts/with-card-service" "$wine_run" "$service" --disk "0=Z:$image" -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --timeout 20 --out "Z:$copy" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    [ "$(grep -c "Bitte Flashkarte JETZT einstecken" "$output")" -eq 1 ] || fail "the prompt is not there once"
    grep -q "Medium eingelegt: " "$output" || fail "no media line"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    sha256=$(sha256sum <"$image" | cut -d' ' -f1)
    grep -q "^SHA-256 $sha256" "$output" || fail "the SHA-256 printed is not $sha256"
    ;;
no_card_in_time)
    # Wine's prefix has no removable drive, and no card service runs.
    start=$(date +%s)
    "$wine_run" "$tool" --timeout $no_card_seconds --out "Z:$work/copy.img" >"$output" 2>&1
    status=$?
    elapsed=$(($(date +%s) - start))
    cat "$output"
    [ "$status" -eq 3 ] || fail "exit status $status, expected 3"
    grep -q "no card was offered within $no_card_seconds s" "$output" || fail "no message about the missing card"
    [ "$elapsed" -lt $((no_card_seconds + no_card_slack)) ] || fail "took $elapsed s"
    [ ! -e "$work/copy.img" ] || fail "a copy was written"
    ;;
bad_arguments)
    "$wine_run" "$tool" --timeout 0 --out "Z:$work/copy.img" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 2 ] || fail "exit status $status, expected 2"
    grep -q "usage: sectorix-flat" "$output" || fail "no usage"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS ($case_name)"
