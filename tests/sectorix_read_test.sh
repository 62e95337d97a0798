#!/bin/sh
# sectorix-read under Wine, one case a run:
#   sectorix_read_test.sh CASE WINE_RUN SECTORIX_READ_EXE CARDS_DIR WORK_DIR
# The cards are FAT images made by the build; Windows sees the Unix file
# system as drive Z:.
set -u
case_name=$1 wine_run=$2 tool=$3 cards=$4 work=$5
standins=$(dirname "$cards")/standins/telemetry/full
card_libraries=$(dirname "$cards")/standins/cardlib/full

# A hung Wine process fails its case, well before CTest gives up on it.
export SECTORIX_WINE_TIMEOUT=60
no_card_seconds=2
no_card_slack=10

rm -rf "$work"
mkdir -p "$work"
output=$work/output

fail() {
    echo "FAIL ($case_name): $*"
    exit 1
}

# Sets $status; the tool's output is in $output.
run_tool() {
    "$wine_run" "$tool" --log "Z:$work/logs" "$@" >"$output" 2>&1
    status=$?
    cat "$output"
}

expect_failure() {
    expected_status=$1 message=$2
    [ "$status" -eq "$expected_status" ] || fail "exit status $status, expected $expected_status"
    grep -q -- "$message" "$output" || fail "no message \"$message\""
}

expect_copy_of() {
    image=$cards/$1.img copy=$work/copy.img
    run_tool --image "Z:$image" --out "Z:$copy"
    [ "$status" -eq 0 ] || fail "exit status $status"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    size=$(stat -c %s "$image")
    grep -q "^copied $size bytes" "$output" || fail "the size printed is not $size bytes"
    sha256=$(sha256sum <"$image" | cut -d' ' -f1)
    grep -q "^SHA-256 $sha256" "$output" || fail "the SHA-256 printed is not $sha256"
}

# A copy of the demo card and an init file of two records, as the stand-in
# CMDLL.DLL keeps it on the card: a byte count, then the records.
make_init_card() {
    card=$work/card.img init=$work/card.init
    cp "$cards/demo_card.img" "$card"
    printf '\001\001\000\000\004\000\000\000init\002\001\000\000\002\000\000\000ok' >"$init"
}

case $case_name in
copies_demo_card)
    expect_copy_of demo_card
    grep -q "100 %" "$output" || fail "the progress line never reached 100 %"
    ls "$work/logs/"*.log >/dev/null 2>&1 || fail "no log book in the --log folder"
    ;;
copies_odd_card)
    # 1000 sectors: the last request reads the 40 sectors that are left.
    [ "$(stat -c %s "$cards/odd_card.img")" -eq 512000 ] || fail "odd_card.img is not 1000 sectors"
    expect_copy_of odd_card
    ;;
replaces_longer_copy)
    # A longer file of the same name must not leave its tail behind.
    head -c 1000000 /dev/zero >"$work/copy.img"
    expect_copy_of odd_card
    ;;
relative_paths)
    cp "$cards/odd_card.img" "$work/card.img"
    (cd "$work" && "$wine_run" "$tool" --image card.img --out copy.img --log logs) >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    cmp "$work/card.img" "$work/copy.img" || fail "the copy differs from the image"
    [ -d "$work/logs" ] || fail "no log folder beside the card"
    ;;
missing_image)
    run_tool --image "Z:$work/no-such-card.img" --out "Z:$work/copy.img"
    expect_failure 1 "cannot read the image"
    [ ! -e "$work/copy.img" ] || fail "a copy was written"
    ;;
folder_is_no_card)
    mkdir "$work/folder"
    start=$(date +%s)
    run_tool --image "Z:$work/folder" --out "Z:$work/copy.img" --timeout $no_card_seconds
    elapsed=$(($(date +%s) - start))
    expect_failure 3 "no card found in .* within $no_card_seconds s"
    [ "$elapsed" -ge $((no_card_seconds - 1)) ] || fail "gave up after $elapsed s, before the timeout"
    [ "$elapsed" -le $((no_card_seconds + no_card_slack)) ] || fail "took $elapsed s"
    ;;
empty_image)
    : >"$work/card.img"
    run_tool --image "Z:$work/card.img" --out "Z:$work/copy.img"
    expect_failure 1 "cannot be opened"
    [ ! -e "$work/copy.img" ] || fail "an empty copy was left"
    ;;
partial_sector)
    # A card whose size is not whole sectors cannot be copied whole: the tool
    # says so instead of leaving a shorter copy behind.
    cp "$cards/odd_card.img" "$work/card.img"
    truncate -s +100 "$work/card.img"
    run_tool --image "Z:$work/card.img" --out "Z:$work/copy.img"
    expect_failure 1 "short read: the card has 512100 bytes"
    [ ! -e "$work/copy.img" ] || fail "a partial copy was left"
    ;;
bad_arguments)
    run_tool --out "Z:$work/copy.img"
    expect_failure 2 "give exactly one of --image, --drive and --telemetry"
    grep -q "^usage: sectorix-read" "$output" || fail "no usage"
    run_tool --image a.img --drive E: --out "Z:$work/copy.img"
    expect_failure 2 "give exactly one of --image, --drive and --telemetry"
    run_tool --image "Z:$cards/demo_card.img"
    expect_failure 2 "--out is missing"
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --timeout 0
    expect_failure 2 "--timeout wants whole seconds"
    run_tool --drive 1: --out "Z:$work/copy.img"
    expect_failure 2 "--drive wants a drive letter such as E: or a disk"
    run_tool --image "Z:$cards/demo_card.img" --out
    expect_failure 2 "--out needs a value"
    run_tool --help
    [ "$status" -eq 0 ] || fail "--help exits with $status"
    grep -q "^usage: sectorix-read" "$output" || fail "--help shows no usage"
    ;;
initialises_card)
    make_init_card
    CARDLIB_STANDIN_CARD="Z:$card" run_tool --image "Z:$card" --init "Z:$init" --format --libraries "Z:$card_libraries"
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -q "100 %" "$output" || fail "the format's progress line never reached 100 %"
    grep -q "^init file written, read back and verified both ways" "$output" || fail "no verification"
    size=$(stat -c %s "$init")
    [ "$(head -c 4 "$card" | od -A n -t u4 | tr -d ' ')" -eq "$size" ] || fail "the card holds no init of $size bytes"
    tail -c +5 "$card" | head -c "$size" | cmp - "$init" || fail "the card's init differs from the file"
    [ "$(tail -c +$((5 + size)) "$card" | tr -d '\377' | wc -c)" -eq 0 ] || fail "the card was not overwritten with 0xFF"
    ;;
init_failures_say_which_step)
    make_init_card
    run_tool --image "Z:$card" --init "Z:$init" --libraries "Z:$card_libraries"
    expect_failure 1 "the card library could not mount the card (library code 0x0002)"
    cmp "$cards/demo_card.img" "$card" || fail "the card changed"
    run_tool --image "Z:$card" --init "Z:$init" --libraries "Z:$work"
    expect_failure 1 "CMDLL.DLL cannot be loaded"
    run_tool --image "Z:$card" --init "Z:$init" --library OTHER.DLL
    expect_failure 2 "the card library is CMDLL.DLL or CMRECDLL.DLL, not OTHER.DLL"
    run_tool --image "Z:$card" --init "Z:$init" --out "Z:$work/copy.img"
    expect_failure 2 "--init initialises the card of --image or --drive and writes no copy"
    run_tool --image "Z:$card" --out "Z:$work/copy.img" --format
    expect_failure 2 "--format and --library go with --init"
    ;;
copies_through_service)
    # The stand-in card service serves the demo card as physical disk 0; the
    # library finds the disk and reads it through the service.
    service=$(dirname "$tool")/sectorix-card-service.exe
    image=$cards/demo_card.img copy=$work/copy.img
    "$(dirname "$0")/../scripts/with-card-service" "$wine_run" "$service" --disk "0=Z:$image" -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --drive PhysicalDrive0 --out "Z:$copy" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -qF "reading the card in \\\\.\\PhysicalDrive0 through the card service" "$output" ||
        fail "the card was not read through the card service"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    sha256=$(sha256sum <"$image" | cut -d' ' -f1)
    grep -q "^SHA-256 $sha256" "$output" || fail "the SHA-256 printed is not $sha256"
    ;;
copies_laps_from_telemetry)
    # The stand-in telvane.dll offers the laps of two cards, each made from
    # its FAT image; every lap is served as the card it was made from.
    export TELEMETRY_STANDIN_LAPS="Z:$cards/demo_card.mflap;Z:$cards/test_card.mflap"
    run_tool --telemetry "read-test-$$" --libraries "Z:$standins" --out "Z:$work"
    [ "$status" -eq 0 ] || fail "exit status $status"
    for lap in 1:demo_card 2:test_card; do
        number=${lap%%:*} image=$cards/${lap#*:}.img
        cmp "$image" "$work/lap-$number-0.img" || fail "lap $number differs from ${lap#*:}.img"
        grep -q "^lap $number\.0" "$output" || fail "lap $number is not named"
        sha256=$(sha256sum <"$image" | cut -d' ' -f1)
        grep -q "^SHA-256 $sha256" "$output" || fail "the SHA-256 of lap $number is not printed"
    done
    grep -q "^2 laps copied" "$output" || fail "the laps are not counted"
    ;;
telemetry_without_library)
    run_tool --telemetry "read-test-$$" --libraries "Z:$work" --out "Z:$work"
    expect_failure 1 "could not be opened"
    ;;
drive_that_is_not_removable)
    # Wine's prefix has C: and Z:, both fixed drives.
    run_tool --drive c --out "Z:$work/copy.img" --timeout $no_card_seconds
    expect_failure 3 "C: is not a removable drive"
    ;;
unwritable_copy)
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/no-such-folder/copy.img"
    expect_failure 1 "cannot write the copy"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS ($case_name)"
