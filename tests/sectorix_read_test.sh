#!/bin/sh
# sectorix-read under Wine, one case a run:
#   sectorix_read_test.sh CASE WINE_RUN SECTORIX_READ_EXE CARDS_DIR WORK_DIR
# The cards are FAT images made by the build; Windows sees the Unix file
# system as drive Z:.
set -u
case_name=$1 wine_run=$2 tool=$3 cards=$4 work=$5
standins=$(dirname "$cards")/standins/telemetry/full
card_libraries=$(dirname "$cards")/standins/cardlib/full
lap_folder=$(dirname "$tool")/SPIFiles

# A hung Wine process fails its case, well before CTest gives up on it.
export SECTORIX_WINE_TIMEOUT=60
no_card_seconds=2
no_card_slack=10

rm -rf "$work"
mkdir -p "$work"
output=$work/output stdout=$work/stdout

fail() {
    echo "FAIL ($case_name): $*"
    exit 1
}

# Sets $status; the tool's output is in $output, its standard output alone
# in $stdout.
run_tool() {
    SECTORIX_WINE_STREAM=1 "$wine_run" "$tool" --log "Z:$work/logs" "$@" >"$stdout" 2>"$output.err" </dev/null
    status=$?
    cat "$stdout" "$output.err" >"$output"
    cat "$output"
}

expect_failure() {
    expected_status=$1 message=$2
    [ "$status" -eq "$expected_status" ] || fail "exit status $status, expected $expected_status"
    grep -q -- "$message" "$output" || fail "no message \"$message\""
}

# A failed or stopped copy leaves the file it was to replace as it was, and
# no temporary file beside it.
expect_kept() {
    [ "$(cat "$work/copy.img")" = "the copy before" ] || fail "the earlier copy was not kept"
    [ -z "$(ls "$work" | grep '\.tmp$')" ] || fail "a temporary file was left: $(ls "$work")"
}

# The copy equals the image, and standard output holds just the line that
# sha256sum prints for it, without carriage returns.
expect_copy_of() {
    image=$cards/$1.img copy=$work/copy.img
    shift
    run_tool --image "Z:$image" --out "Z:$copy" "$@"
    [ "$status" -eq 0 ] || fail "exit status $status"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    [ "$(cat "$stdout")" = "$(sha256sum "$image" | cut -d' ' -f1)  Z:$copy" ] || fail "no sha256sum line"
    ! grep -q "$(printf '\r')" "$output" || fail "carriage returns in the output"
}

with_service() {
    "$(dirname "$0")/../scripts/with-card-service" "$wine_run" "$(dirname "$tool")/sectorix-card-service.exe" "$@"
}

# A copy of the demo card and an init file of two records, as the stand-in
# CMDLL.DLL keeps it on the card: a byte count, then the records.
make_init_card() {
    card=$work/card.img init=$work/card.init
    cp "$cards/demo_card.img" "$card"
    printf '\001\001\000\000\004\000\000\000init\002\001\000\000\002\000\000\000ok' >"$init"
}

# Byte and field surgery on lap files: the list block's little-endian
# 32-bit fields, and bytes overwritten in place.
lap_field() {
    od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '
}

put_bytes() {
    printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# The zlib header of a compressed part zeroed: its inflation fails at once.
spoil_stream() {
    put_bytes "$1" "$(lap_field "$1" "$2")" '\000\000'
}

header_offset_field=56
data_offset_field=68
first_data_sector_field=44
check_word_offset=80

# The card service fails every read that touches a bad sector; the rescue
# reads past them in the copy's large requests, halves a failing request
# down to single sectors, tries each of those three times, and keeps the
# copy with zeros where the card gave nothing.
rescues_bad_sectors() {
    service=$(dirname "$tool")/sectorix-card-service.exe
    image=$cards/demo_card.img copy=$work/copy.img record=$work/record
    # 100-103 and 104 join; 127-128 spans two requests; 8191 is the last.
    "$(dirname "$0")/../scripts/with-card-service" "$wine_run" "$service" --disk "0=Z:$image" \
        --fault bad=100-103 --fault bad=104-104 --fault bad=127-128 --fault bad=8191-8191 --record "Z:$record" -- \
        sh -c '"$1" "$2" --log "Z:$3/logs" --drive PhysicalDrive0 --out "Z:$3/plain.img" >"$3/plain" 2>&1
               echo "plain status $?" >>"$3/plain"
               : >"$3/record"
               "$1" "$2" --log "Z:$3/logs" --drive PhysicalDrive0 --rescue --out "Z:$3/copy.img"' \
        sh "$wine_run" "$tool" "$work" >"$output" 2>&1
    status=$?
    cat "$work/plain" "$output"
    grep -q "^plain status 1" "$work/plain" || fail "the copy without --rescue did not fail"
    grep -q "cannot read sector 100 of the card" "$work/plain" || fail "the copy without --rescue names no bad sector"
    [ ! -e "$work/plain.img" ] || fail "the copy without --rescue was left"
    expect_failure 4 "^8 sectors in 3 ranges could not be read"
    expected=$work/expected.img
    cp "$image" "$expected"
    for range in 100:5 127:2 8191:1; do
        dd if=/dev/zero of="$expected" bs=512 seek="${range%:*}" count="${range#*:}" conv=notrunc status=none
    done
    cmp "$expected" "$copy" || fail "the copy is not the card with zeros for its bad sectors"
    printf '100-104\n127-128\n8191-8191\n' | cmp - "$copy.badsectors" || fail "the list of bad sectors is wrong"
    grep -q "^$(sha256sum <"$copy" | cut -d' ' -f1)  Z:$copy" "$output" || fail "the SHA-256 printed is not the copy's"
    # Read requests as recorded: size 14, cmd 3, disk 0x80, first, count.
    grep -q "^0e00000003800000000040000000$" "$record" || fail "the card was not read in requests of 64 sectors"
    [ "$(grep -c "^0e00000003806400000001000000$" "$record")" -eq 3 ] ||
        fail "sector 100 was not tried three times"
    [ "$(grep -c "^0e00000003806300000001000000$" "$record")" -eq 0 ] ||
        fail "good sector 99 was read on its own"
}

# A card that reads whole: the status is 0 and an old list is emptied.
rescue_of_sound_card() {
    image=$cards/odd_card.img copy=$work/copy.img
    printf '1-2\n' >"$copy.badsectors"
    run_tool --image "Z:$image" --rescue --out "Z:$copy"
    [ "$status" -eq 0 ] || fail "exit status $status"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    [ -f "$copy.badsectors" ] && [ ! -s "$copy.badsectors" ] || fail "the list of bad sectors is not empty"
    grep -q "^every sector was read" "$output" || fail "no word that every sector was read"
    # A list that could not be written would belong to another copy.
    echo "the copy before" >"$copy"
    rm "$copy.badsectors"
    mkdir "$copy.badsectors"
    run_tool --image "Z:$image" --rescue --out "Z:$copy"
    expect_failure 1 "copy.img.badsectors: it is a folder"
    expect_kept
}

# Stored laps become the cards they were made from, with no link and no
# watchguard, so no log book either.
copies_stored_laps() {
    for card in demo_card test_card; do
        image=$cards/$card.img copy=$work/$card.img
        run_tool --lap "Z:$cards/$card.mflap" --out "Z:$copy"
        [ "$status" -eq 0 ] || fail "exit status $status for $card"
        cmp "$image" "$copy" || fail "the card of $card.mflap differs from $card.img"
        [ "$(cat "$stdout")" = "$(sha256sum <"$image" | cut -d' ' -f1)  Z:$copy" ] ||
            fail "no sha256sum line for $card"
    done
    [ ! -e "$work/logs" ] || fail "the watchguard ran for a stored lap"
}

# Damaged laps are refused as the library refuses them; what a lap with
# damaged lap data still holds can be rescued.
refuses_damaged_laps() {
    lap=$cards/demo_card.mflap image=$cards/demo_card.img
    cp "$lap" "$work/check.mflap"
    low=$(od -A n -t u1 -j $check_word_offset -N 1 "$lap" | tr -d ' ')
    put_bytes "$work/check.mflap" $check_word_offset "\\$(printf %03o $(((low + 1) % 256)))"
    head -c $(($(stat -c %s "$lap") - 100)) "$lap" >"$work/cut.mflap"
    run_tool --lap "Z:$work" --out "Z:$work/copy.img"
    expect_failure 1 "is a folder, not a lap file"
    ln "$work/check.mflap" "$work/link.mflap"
    run_tool --lap "Z:$work/check.mflap" --out "Z:$work/link.mflap"
    expect_failure 1 "link.mflap: it is .*check.mflap, which the copy is made from"
    for damaged in check cut; do
        run_tool --lap "Z:$work/$damaged.mflap" --out "Z:$work/copy.img"
        expect_failure 1 "is no whole lap file"
        [ ! -e "$work/copy.img" ] || fail "a copy of the $damaged lap was left"
    done
    cp "$lap" "$work/header.mflap"
    spoil_stream "$work/header.mflap" $header_offset_field
    run_tool --lap "Z:$work/header.mflap" --out "Z:$work/copy.img"
    expect_failure 1 "the header of the lap .* cannot be inflated"
    cp "$lap" "$work/data.mflap"
    spoil_stream "$work/data.mflap" $data_offset_field
    first_data=$(lap_field "$lap" $first_data_sector_field)
    run_tool --lap "Z:$work/data.mflap" --out "Z:$work/copy.img"
    expect_failure 1 "cannot read sector $first_data of the card"
    run_tool --lap "Z:$work/data.mflap" --rescue --out "Z:$work/copy.img"
    expect_failure 4 "could not be read"
    last=$(($(stat -c %s "$image") / 512 - 1))
    printf '%s-%s\n' "$first_data" "$last" | cmp - "$work/copy.img.badsectors" ||
        fail "the lap data is not listed as lost"
    [ "$(stat -c %s "$work/copy.img")" -eq "$(stat -c %s "$image")" ] || fail "the rescued copy is not the card's size"
    cmp -n $((first_data * 512)) "$image" "$work/copy.img" || fail "the sectors before the lap data were not kept"
}

make_large_card() {
    truncate -s 256M "$work/large.img"
    PATH=$PATH:/usr/sbin:/sbin mkfs.vfat "$work/large.img" >/dev/null || fail "no large card"
}

# Ctrl+C (SIGINT, which Wine hands on as one) once the tool has a file
# under PATH open; sets $status, the output in $output.
stop_once_open() {
    path=$1
    shift
    SECTORIX_WINE_STREAM=1 "$wine_run" "$@" >"$output" 2>&1 &
    tool_pid=$!
    for i in $(seq 200); do
        find /proc/[0-9]*/fd -lname "$path*" 2>/dev/null | grep -q . && break
        sleep 0.1
    done
    kill -INT $tool_pid
    wait $tool_pid
    status=$?
    cat "$output"
}

# Laps named as the link names them, one whole and one of each damage; a
# file of another kind is no lap.
lists_laps() {
    laps=$work/SPIFiles lap=$cards/demo_card.mflap make_lap=$(dirname "$tool")/make-lap.exe
    mkdir "$laps"
    cp "$lap" "$laps/0000ABCD_001_000_00000.mflap"
    head -c 1000 "$lap" >"$laps/0000ABCD_002_000_00000.mflap"
    cp "$lap" "$laps/0000ABCD_003_000_00001.mflap"
    spoil_stream "$laps/0000ABCD_003_000_00001.mflap" $header_offset_field
    cp "$lap" "$laps/0000ABCD_010_002_00000.mflap"
    spoil_stream "$laps/0000ABCD_010_002_00000.mflap" $data_offset_field
    cp "$lap" "$laps/stored.mflap"
    cp "$lap" "$laps/0000ABCD_004_000_00000.img"
    size=$(stat -c %s "$lap")
    run_tool --list-laps "Z:$laps"
    expect_failure 4 "^5 laps in .*, 2 whole"
    for line in "lap 1.0.0	$size bytes	whole	0000ABCD_001_000_00000.mflap" \
                "lap 2.0.0	1000 bytes	not whole: cut short, or its list block does not hold together" \
                "lap 3.0.1	$size bytes	not whole: its header does not inflate" \
                "lap 10.2.0	$size bytes	not whole: its lap data is cut short or corrupt" \
                "lap ?	$size bytes	whole	stored.mflap"; do
        grep -qF "$line" "$output" || fail "no line \"$line\""
    done
    grep -q "\.img" "$output" && fail "a file that is no lap was listed"
    rm "$laps"/*
    run_tool --list-laps "Z:$laps"
    [ "$status" -eq 0 ] || fail "exit status $status for an empty folder"
    grep -q "^no lap files in" "$output" || fail "an empty folder is not said to be empty"
    run_tool --list-laps "Z:$work/no-such-folder"
    expect_failure 1 "cannot list the laps in"
    # Large laps take a while to check; a stop ends the listing there.
    make_large_card
    "$wine_run" "$make_lap" "Z:$work/large.img" "Z:$work/large.mflap" || fail "no large lap"
    for i in $(seq 10 40); do ln "$work/large.mflap" "$laps/0000ABCD_0${i}_000_00000.mflap"; done
    stop_once_open "$laps/" "$tool" --list-laps "Z:$laps"
    expect_failure 130 "stopped by Ctrl+C; nothing was listed"
    ! grep -q "^lap " "$output" || fail "laps were listed after the stop"
}

# make-lap serves back the image it was given, or refuses it.
make_lap_refuses_partial_images() {
    make_lap=$(dirname "$tool")/make-lap.exe
    head -c 1000 "$cards/odd_card.img" >"$work/short.img"
    head -c $((100 * 512)) "$cards/odd_card.img" >"$work/cut.img"
    for image in short:"is 1000 bytes, not whole sectors" cut:"is 51200 bytes, but its file system covers 507904"; do
        name=${image%%:*}
        "$wine_run" "$make_lap" "Z:$work/$name.img" "Z:$work/$name.mflap" >"$output" 2>&1
        status=$?
        cat "$output"
        expect_failure 1 "${image#*:}"
        [ ! -e "$work/$name.mflap" ] || fail "a lap of $name.img was written"
    done
    cp "$cards/odd_card.img" "$work/card.img"
    "$wine_run" "$make_lap" "Z:$work/card.img" "Z:$work/../$(basename "$work")/card.img" >"$output" 2>&1
    status=$?
    cat "$output"
    expect_failure 1 "it is .*card.img, which the copy is made from"
    cmp "$cards/odd_card.img" "$work/card.img" || fail "make-lap wrote over its image"
    # Stopped while it reads the image, it leaves the lap there was.
    make_large_card
    echo "the lap before" >"$work/large.mflap"
    stop_once_open "$work/large.img" "$make_lap" "Z:$work/large.img" "Z:$work/large.mflap"
    expect_failure 130 "stopped by Ctrl+C; no lap file was written"
    [ "$(cat "$work/large.mflap")" = "the lap before" ] || fail "the earlier lap was not kept"
    [ -z "$(ls "$work" | grep '\.tmp$')" ] || fail "a temporary file was left: $(ls "$work")"
}

case $case_name in
copies_demo_card)
    expect_copy_of demo_card
    grep -q "100 %  4.2/4.2 MB  .* MB/s  0:0.* elapsed$" "$output" || fail "no final progress line"
    grep -q "^copied 4194304 bytes (8192 sectors)" "$output" || fail "the size is not told"
    ls "$work/logs/"*.log >/dev/null 2>&1 || fail "no log book in the --log folder"
    expect_copy_of demo_card --quiet
    [ "$(wc -l <"$output")" -eq 1 ] || fail "--quiet printed more than the SHA-256 line"
    ;;
copies_odd_card)
    # 1000 sectors: the last request reads the 40 sectors that are left; a
    # longer file of the same name must not leave its tail behind.
    [ "$(stat -c %s "$cards/odd_card.img")" -eq 512000 ] || fail "odd_card.img is not 1000 sectors"
    head -c 1000000 /dev/zero >"$work/copy.img"
    expect_copy_of odd_card
    ;;
relative_paths)
    cp "$cards/odd_card.img" "$work/card.img"
    (cd "$work" && "$wine_run" "$tool" --image card.img --out copy.img --log logs) >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    (cd "$work" && grep "copy.img$" "$output" | sha256sum -c) || fail "sha256sum -c does not accept the SHA-256 line"
    [ -d "$work/logs" ] || fail "no log folder beside the card"
    ;;
refuses_what_is_no_card)
    # Each is told at once, in plain words, before the library is started.
    echo "the copy before" >"$work/copy.img"
    mkdir "$work/folder"
    : >"$work/empty.img"
    cp "$cards/odd_card.img" "$work/partial.img"
    truncate -s +100 "$work/partial.img"
    start=$(date +%s)
    run_tool --image "Z:$work/no-such-card.img" --out "Z:$work/copy.img"
    expect_failure 1 "cannot read the image"
    run_tool --image "Z:$work/folder" --out "Z:$work/copy.img"
    expect_failure 1 "folder is a folder, not a card image"
    run_tool --image "Z:$work/empty.img" --out "Z:$work/copy.img"
    expect_failure 1 "the image .*empty.img is empty"
    run_tool --image "Z:$work/partial.img" --out "Z:$work/copy.img"
    expect_failure 1 "is 512100 bytes, not whole 512-byte sectors; .* pad it with zeros to 512512 bytes"
    run_tool --drive c --out "Z:$work/copy.img"
    expect_failure 1 "C: is a fixed disk, not a card"
    run_tool --drive q --out "Z:$work/copy.img"
    expect_failure 1 "there is no drive Q:"
    run_tool --image "Z:$cards/odd_card.img" --out "Z:$work/no-such-folder/copy.img"
    expect_failure 1 "cannot write to .*no-such-folder"
    run_tool --image "Z:$cards/odd_card.img" --out "Z:$work/folder"
    expect_failure 1 "cannot write .*folder: it is a folder"
    # The image itself, spelt another way, is no place for its copy.
    cp "$cards/odd_card.img" "$work/card.img"
    run_tool --image "Z:$work/card.img" --out "Z:$work/../$(basename "$work")/CARD.img"
    expect_failure 1 "it is .*card.img, which the copy is made from"
    cmp "$cards/odd_card.img" "$work/card.img" || fail "the image changed"
    echo "read-only" >"$work/read-only.img"
    chmod 444 "$work/read-only.img"
    run_tool --image "Z:$cards/odd_card.img" --out "Z:$work/read-only.img"
    expect_failure 1 "read-only.img: it is read-only"
    ! grep -q "daily log" "$output" || fail "a failure before the library started points to its log"
    [ $(($(date +%s) - start)) -le 30 ] || fail "took $(($(date +%s) - start)) s"
    [ ! -e "$work/logs" ] || fail "the library was started"
    expect_kept
    ;;
bad_arguments)
    run_tool --out "Z:$work/copy.img"
    expect_failure 2 "give exactly one of --image, --drive, --telemetry, --lap and --list-laps"
    grep -q "^try 'sectorix-read --help' for the usage" "$output" || fail "no hint"
    ! grep -q "^usage:" "$output" || fail "the whole usage for a mistake"
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --verbose
    expect_failure 2 "unknown option --verbose"
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --out "Z:$work/other.img"
    expect_failure 2 "--out is given twice"
    run_tool --image "Z:$cards/demo_card.img" --out
    expect_failure 2 "--out needs a value"
    for other in --rescue --format --yes "--library CMDLL.DLL" "--libraries Z:$work"; do
        run_tool --list-laps "Z:$work" $other
        expect_failure 2 "--list-laps only lists and takes no ${other%% *}"
    done
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --libraries "Z:$work"
    expect_failure 2 "--libraries goes with --telemetry or --init"
    run_tool --telemetry link --out "Z:$work" --rescue
    expect_failure 2 "--rescue goes with a copy"
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --timeout 0
    expect_failure 2 "--timeout wants whole seconds"
    run_tool --drive 1: --out "Z:$work/copy.img"
    expect_failure 2 "--drive wants a drive letter such as E: or a disk"
    run_tool --image "Z:$cards/demo_card.img" --out "Z:$work/copy.img" --format
    expect_failure 2 "--format, --yes and --library go with --init"
    [ ! -e "$work/copy.img" ] || fail "a copy was written"
    for help in -h --help; do
        run_tool --verbose $help
        [ "$status" -eq 0 ] || fail "$help exits with $status"
        grep -q "^usage: sectorix-read" "$stdout" || fail "$help shows no usage"
        grep -q "^ *130 stopped by Ctrl+C" "$stdout" || fail "$help does not list the exit codes"
    done
    run_tool --version
    [ "$status" -eq 0 ] && grep -q "^sectorix-read [0-9]" "$stdout" || fail "--version: $status"
    ;;
initialises_card)
    make_init_card
    CARDLIB_STANDIN_CARD="Z:$card" run_tool --image "Z:$card" --init "Z:$init" --format --yes \
        --libraries "Z:$card_libraries"
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -q "100 %" "$output" || fail "the format's progress line never reached 100 %"
    grep -q "^init file written, read back and verified both ways" "$output" || fail "no verification"
    size=$(stat -c %s "$init")
    [ "$(head -c 4 "$card" | od -A n -t u4 | tr -d ' ')" -eq "$size" ] || fail "the card holds no init of $size bytes"
    tail -c +5 "$card" | head -c "$size" | cmp - "$init" || fail "the card's init differs from the file"
    [ "$(tail -c +$((5 + size)) "$card" | tr -d '\377' | wc -c)" -eq 0 ] || fail "the card was not overwritten with 0xFF"
    ;;
init_failures_say_which_step)
    # Nothing of this touches the card.
    make_init_card
    export CARDLIB_STANDIN_CARD="Z:$card"
    run_tool --image "Z:$card" --init "Z:$init" --format --libraries "Z:$card_libraries"
    expect_failure 2 "--format overwrites the whole card: confirm it with --yes"
    run_tool --image "Z:$card" --init "Z:$work/no-such.init" --format --yes --libraries "Z:$card_libraries"
    expect_failure 1 "the init file .*no-such.init cannot be found"
    : >"$work/empty.init"
    run_tool --image "Z:$card" --init "Z:$work/empty.init" --format --yes --libraries "Z:$card_libraries"
    expect_failure 1 "the init file .*empty.init is empty"
    head -c 10 "$init" >"$work/cut.init"
    run_tool --image "Z:$card" --init "Z:$work/cut.init" --format --yes --libraries "Z:$card_libraries"
    expect_failure 1 "the init file .*cut.init is corrupt"
    run_tool --image "Z:$card" --init "Z:$init" --format --yes --library CMRECDLL.DLL
    expect_failure 1 "is not one for CMRECDLL.DLL"
    unset CARDLIB_STANDIN_CARD
    run_tool --image "Z:$card" --init "Z:$init" --libraries "Z:$card_libraries"
    expect_failure 1 "the card library could not mount the card (library code 0x0002)"
    grep -q "more in the daily log in .*logs" "$output" || fail "the log is not named"
    run_tool --image "Z:$card" --init "Z:$init" --libraries "Z:$work"
    expect_failure 1 "CMDLL.DLL cannot be loaded"
    run_tool --image "Z:$card" --init "Z:$init" --library OTHER.DLL
    expect_failure 2 "the card library is CMDLL.DLL or CMRECDLL.DLL, not OTHER.DLL"
    run_tool --image "Z:$card" --init "Z:$init" --out "Z:$work/copy.img"
    expect_failure 2 "--init initialises the card of --image or --drive and writes no copy"
    cmp "$cards/demo_card.img" "$card" || fail "the card changed"
    ;;
format_asks_at_a_console)
    # At a console, --format without --yes names the card and its size and
    # goes on only on "yes". The answer is typed once the question is there,
    # on a line wide enough for it, and typed again while nothing happens:
    # Wine's console may drop what is typed while it sets the terminal up.
    make_init_card
    for answer in no yes; do
        transcript=$work/console-$answer
        (for i in $(seq 150); do grep -q "Type yes to go on" "$transcript" 2>/dev/null && break; sleep 0.2; done
         for i in $(seq 20); do printf '%s\r' "$answer" || break; sleep 2; done) |
            CARDLIB_STANDIN_CARD="Z:$card" timeout 60 script -qfec "stty cols 250; SECTORIX_WINE_STREAM=1 '$wine_run' '$tool' \
                --image 'Z:$card' --init 'Z:$init' --format --libraries 'Z:$card_libraries' --log 'Z:$work/logs'" \
                "$transcript" >/dev/null 2>&1
        status=$?
        tr -d '\r' <"$transcript" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' >"$output"
        cat "$output"
        grep -q "format the card in Z:$card (4194304 bytes)? Everything on it is" "$output" || fail "no question"
        if [ $answer = no ]; then
            expect_failure 1 "the card was not formatted and is as it was"
            cmp "$cards/demo_card.img" "$card" || fail "the card changed"
        else
            [ "$status" -eq 0 ] || fail "exit status $status after yes"
            tail -c +5 "$card" | head -c "$(stat -c %s "$init")" | cmp - "$init" || fail "the card holds no init"
        fi
    done
    ;;
copies_through_service)
    # The stand-in card service serves the demo card as physical disk 0; the
    # library finds the disk and reads it through the service.
    image=$cards/demo_card.img copy=$work/copy.img
    with_service --disk "0=Z:$image" -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --drive PhysicalDrive0 --out "Z:$copy" >"$output" 2>&1
    status=$?
    cat "$output"
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -qF "reading the card in \\\\.\\PhysicalDrive0 through the card service" "$output" ||
        fail "the card was not read through the card service"
    cmp "$image" "$copy" || fail "the copy differs from the image"
    grep -q "^$(sha256sum <"$image" | cut -d' ' -f1)  Z:$copy" "$output" || fail "no SHA-256 line"
    ;;
failed_copy_keeps_the_old)
    # Every read of the card fails: the copy that was there stays.
    echo "the copy before" >"$work/copy.img"
    with_service --disk "0=Z:$cards/demo_card.img" --fault error=read -- \
        "$wine_run" "$tool" --log "Z:$work/logs" --drive PhysicalDrive0 --out "Z:$work/copy.img" >"$output" 2>&1
    status=$?
    cat "$output"
    expect_failure 1 "cannot read sector 0 of the card in \\\\\\\\.\\\\PhysicalDrive0"
    grep -q "more in the daily log in .*logs" "$output" || fail "the log is not named"
    expect_kept
    ;;
stopped_copy_keeps_the_old)
    # Ctrl+C (here SIGINT, which Wine hands on as one) in the middle of a
    # slow copy: the tool stops, says so and removes what it wrote; a rescue
    # leaves the earlier list of bad sectors too, and stops among the many
    # reads of a stretch of bad sectors.
    for rescue in "" --rescue; do
        echo "the copy before" >"$work/copy.img"
        echo "1-2" >"$work/copy.img.badsectors"
        bad=${rescue:+--fault bad=0-8191}
        with_service --disk "0=Z:$cards/demo_card.img" --fault slow=100 $bad -- \
            sh -c 'SECTORIX_WINE_STREAM=1 "$1" "$2" --log "Z:$3/logs" --drive PhysicalDrive0 --out "Z:$3/copy.img" \
                       $4 >"$3/output" 2>&1 &
                   tool_pid=$!
                   for i in $(seq 200); do
                       ls "$3" | grep -q "\.tmp$" && break
                       sleep 0.1
                   done
                   sleep 1
                   kill -INT $tool_pid
                   wait $tool_pid' \
            stop-test "$wine_run" "$tool" "$work" "$rescue"
        status=$?
        cat "$output"
        expect_failure 130 "stopped by Ctrl+C; the partial copy was removed"
        expect_kept
        [ "$(cat "$work/copy.img.badsectors")" = "1-2" ] || fail "the earlier list of bad sectors was not kept"
    done
    # Ctrl+C typed at a terminal, the tool run through wine-run as a person
    # runs it by hand.
    echo "the copy before" >"$work/copy.img"
    with_service --disk "0=Z:$cards/demo_card.img" --fault slow=100 -- \
        sh -c '(for i in $(seq 200); do ls "$3" | grep -q "\.tmp$" && break; sleep 0.1; done
                sleep 1
                printf "\003"
                for i in $(seq 100); do grep -q stopped "$3/transcript" && break; sleep 0.1; done) |
               timeout 60 script -qfec "\"$1\" \"$2\" --log Z:$3/logs --drive PhysicalDrive0 --out Z:$3/copy.img" \
                   "$3/transcript" >/dev/null 2>&1' \
        typed "$wine_run" "$tool" "$work"
    status=$?
    tr -d '\r' <"$work/transcript" >"$output"
    cat "$output"
    expect_failure 130 "stopped by Ctrl+C; the partial copy was removed"
    expect_kept
    ;;
copies_laps_from_telemetry)
    rm -rf "$lap_folder"
    # The stand-in telvane.dll offers the laps of two cards, each made from
    # its FAT image; every lap is served as the card it was made from.
    export TELEMETRY_STANDIN_LAPS="Z:$cards/demo_card.mflap;Z:$cards/test_card.mflap"
    run_tool --telemetry "read-test-$$" --libraries "Z:$standins" --out "Z:$work"
    [ "$status" -eq 0 ] || fail "exit status $status"
    for lap in 1:demo_card 2:test_card; do
        number=${lap%%:*} image=$cards/${lap#*:}.img
        cmp "$image" "$work/lap-$number-0.img" || fail "lap $number differs from ${lap#*:}.img"
        grep -q "^lap $number\.0" "$output" || fail "lap $number is not named"
        grep -q "^$(sha256sum <"$image" | cut -d' ' -f1)  Z:$work.lap-$number-0.img" "$stdout" ||
            fail "the SHA-256 of lap $number is not printed"
    done
    grep -q "^2 laps copied" "$output" || fail "the laps are not counted"
    ;;
damaged_lap_is_named)
    # A lap cut short arrives before a whole one: the whole lap is written
    # under its own numbers, the damaged one named as not copied. A lap file
    # of the same numbers from an earlier run would be taken for its start.
    rm -rf "$lap_folder"
    head -c 2000 "$cards/demo_card.mflap" >"$work/cut.mflap"
    export TELEMETRY_STANDIN_LAPS="Z:$work/cut.mflap;Z:$cards/test_card.mflap"
    run_tool --telemetry "read-test-$$" --libraries "Z:$standins" --out "Z:$work"
    expect_failure 1 "lap 1.0 .*; it stays in .*SPIFiles"
    cmp "$cards/test_card.img" "$work/lap-2-0.img" || fail "lap 2 differs from test_card.img"
    [ ! -e "$work/lap-1-0.img" ] || fail "a copy of lap 1 was written"
    grep -q "^1 lap copied" "$output" || fail "the laps are not counted"
    ;;
telemetry_refusals)
    # The output is checked before the link is opened.
    export TELEMETRY_STANDIN_LAPS="Z:$cards/test_card.mflap"
    run_tool --telemetry "read-test-$$" --libraries "Z:$standins" --out "Z:$work/no-such-folder"
    expect_failure 1 "cannot write to .*no-such-folder"
    [ ! -e "$work/logs" ] || fail "the library was started"
    run_tool --telemetry "read-test-$$" --libraries "Z:$work" --out "Z:$work"
    expect_failure 1 "could not be opened"
    ;;
rescues_bad_sectors | rescue_of_sound_card | copies_stored_laps | refuses_damaged_laps | lists_laps | \
    make_lap_refuses_partial_images)
    $case_name
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS ($case_name)"
