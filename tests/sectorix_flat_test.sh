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

with_service() {
    "$(dirname "$0")/../scripts/with-card-service" "$wine_run" "$service" "$@"
}

case $case_name in
copies_the_card_of_the_service)
    image=$cards/demo_card.img copy=$work/copy.img
    with_service --disk "0=Z:$image" -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --timeout 20 --out "Z:$copy" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    [ "$(grep -c "Bitte Flashkarte JETZT einstecken" "$output")" -eq 1 ] || fail "the prompt is not there once"
    grep -q "Medium eingelegt: " "$output" || fail "no media line"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    grep -q "^$(sha256sum <"$image" | cut -d' ' -f1)  Z:$copy$" "$output" || fail "no SHA-256 line"
    ;;
read_failure_keeps_the_old)
    echo "the copy before" >"$work/copy.img"
    with_service --disk "0=Z:$cards/demo_card.img" --fault error=read -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --timeout 20 --out "Z:$work/copy.img" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    grep -q "cannot read sector 0 of the card Sectorix.dll offered$" "$output" || fail "no read failure"
    grep -q "more in the daily log in .*logs$" "$output" || fail "the log is not named"
    [ "$(cat "$work/copy.img")" = "the copy before" ] || fail "the earlier copy was not kept"
    [ -z "$(ls "$work" | grep '\.tmp$')" ] || fail "a temporary file was left"
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
    for arguments in "--timeout 0 --out Z:$work/copy.img|--timeout wants whole seconds" \
                     "--out Z:$work/copy.img --verbose|unknown option --verbose" \
                     "--out Z:$work/copy.img --out Z:$work/other.img|--out is given twice" \
                     "--timeout 5|--out is missing"; do
        "$wine_run" "$tool" ${arguments%%|*} >"$output" 2>&1
        status=$?
        cat "$output"
        [ "$status" -eq 2 ] || fail "exit status $status, expected 2"
        grep -q "^sectorix-flat: ${arguments#*|}" "$output" || fail "no message \"${arguments#*|}\""
        grep -q "^try 'sectorix-flat --help'" "$output" || fail "no hint"
    done
    "$wine_run" "$tool" -h >"$output" 2>&1 || fail "-h exits with $?"
    grep -q "^usage: sectorix-flat" "$output" || fail "-h shows no usage"
    "$wine_run" "$tool" --version >"$output" 2>&1 || fail "--version exits with $?"
    grep -q "^sectorix-flat [0-9]" "$output" || fail "--version shows no version"
    ;;
card_service_needs_a_card)
    # By hand, a stand-in with nothing to serve is a mistake; a --stop with
    # none running is told.
    "$wine_run" "$service" --lifetime 5 >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    grep -q "no card image to serve" "$output" || fail "no refusal"
    "$wine_run" "$service" --stop >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 1 ] || fail "--stop exit status $status, expected 1"
    grep -q "no stand-in card service is running" "$output" || fail "--stop does not say none runs"
    # Its command line is read by the rules of the tools.
    for mistake in "--verbose|unknown option --verbose" "--lifetime 5 --lifetime 6|--lifetime is given twice"; do
        "$wine_run" "$service" ${mistake%|*} >"$output" 2>&1
        status=$?
        cat "$output"
        [ "$status" -eq 2 ] || fail "exit status $status for ${mistake%|*}"
        grep -q "^sectorix-card-service: ${mistake#*|}$" "$output" || fail "no message \"${mistake#*|}\""
        grep -q "^try 'sectorix-card-service --help' for the usage$" "$output" || fail "no hint"
        ! grep -q "^usage:" "$output" || fail "the whole usage for a mistake"
    done
    "$wine_run" "$service" --disk 0=Z:/nowhere --version >"$output" 2>&1
    status=$?
    [ "$status" -eq 0 ] && grep -q "^sectorix-card-service [0-9.]*$" "$output" || fail "--version: $status"
    # Ctrl+C typed at a terminal while with-card-service runs its command
    # ends the service it started too.
    (for i in $(seq 200); do grep -q protocol "$work/transcript" 2>/dev/null && break; sleep 0.1; done
     printf '\003'
     sleep 2) |
        timeout 60 script -qfec "'$(dirname "$0")/../scripts/with-card-service' '$wine_run' '$service' \
            --disk 0=Z:$cards/demo_card.img -- sleep 60" "$work/transcript" >/dev/null 2>&1
    status=$?
    [ "$status" -eq 130 ] || fail "with-card-service ended with $status after Ctrl+C"
    "$wine_run" "$service" --stop >"$output" 2>&1 && fail "the card service outlived with-card-service"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS ($case_name)"
