# Card images for the tools, tests and benchmarks: real FAT file systems made
# at build time by dosfstools and mtools, holding what a data logger leaves on
# its card (a text file, a binary file, a folder of trip logs).
#
#     sectorix_card_image(<name> SIZE_KIB <kib> DATA_KIB <kib> [LAP])
#
# makes ${CMAKE_BINARY_DIR}/cards/<name>.img, SIZE_KIB KiB large, through the
# target <name>; its binary file holds DATA_KIB KiB. With LAP, the target
# also makes <name>.mflap beside it, the image's lap file written by
# make-lap (under Wine, so only where this machine runs the build's
# programs).
#
# The same file is the build-time script (cmake -P) that makes one image.

if(CMAKE_SCRIPT_MODE_FILE)
    set(volume_label SECTORIX)
    set(trip_lines 200)
    set(trip_interval_ms 100)
    set(trip_speed_step 7)
    set(trip_top_speed 130)
    set(stage ${IMAGE}.files)

    function(run)
        execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "${ARGV0} failed (${result}) while making ${IMAGE}")
        endif()
    endfunction()

    file(REMOVE_RECURSE ${stage} ${IMAGE})
    file(MAKE_DIRECTORY ${stage}/LOGS)
    file(WRITE ${stage}/README.TXT
         "Sectorix card image\r\nMade by mkfs.vfat and mcopy at build time.\r\n")
    set(trip "time_ms;speed_kmh\r\n")
    foreach(line RANGE 1 ${trip_lines})
        math(EXPR time_ms "${line} * ${trip_interval_ms}")
        math(EXPR speed "(${line} * ${trip_speed_step}) % ${trip_top_speed}")
        string(APPEND trip "${time_ms};${speed}\r\n")
    endforeach()
    file(WRITE ${stage}/LOGS/TRIP0001.CSV "${trip}")

    # Compressed counting is binary data with every byte value, the same on
    # every build.
    math(EXPR data_bytes "${DATA_KIB} * 1024")
    execute_process(COMMAND seq 1 ${data_bytes}
                    COMMAND gzip -n -9
                    OUTPUT_FILE ${stage}/SAMPLES.BIN RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "seq | gzip failed (${result}) while making ${IMAGE}")
    endif()
    run(truncate -s ${data_bytes} ${stage}/SAMPLES.BIN)

    run(${MKFS} --invariant -n ${volume_label} -C ${IMAGE} ${SIZE_KIB})
    run(${MCOPY} -i ${IMAGE} -s ${stage}/README.TXT ${stage}/SAMPLES.BIN ${stage}/LOGS ::/)
    file(REMOVE_RECURSE ${stage})
    return()
endif()

find_program(SECTORIX_MKFS_VFAT mkfs.vfat PATHS /usr/sbin /sbin REQUIRED)
find_program(SECTORIX_MCOPY mcopy REQUIRED)

function(sectorix_card_image name)
    cmake_parse_arguments(PARSE_ARGV 1 CARD "LAP" "SIZE_KIB;DATA_KIB" "")
    set(image ${CMAKE_BINARY_DIR}/cards/${name}.img)
    add_custom_command(OUTPUT ${image}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/cards
        COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DSIZE_KIB=${CARD_SIZE_KIB} -DDATA_KIB=${CARD_DATA_KIB}
                -DMKFS=${SECTORIX_MKFS_VFAT} -DMCOPY=${SECTORIX_MCOPY} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        COMMENT "Making the FAT card image ${name}.img"
        VERBATIM)
    set(outputs ${image})
    if(CARD_LAP AND SECTORIX_RUNS_UNDER_WINE)
        set(lap ${CMAKE_BINARY_DIR}/cards/${name}.mflap)
        add_custom_command(OUTPUT ${lap}
            COMMAND make-lap ${image} ${lap}
            DEPENDS make-lap ${image}
            COMMENT "Making the lap file ${name}.mflap"
            VERBATIM)
        list(APPEND outputs ${lap})
    endif()
    add_custom_target(${name} ALL DEPENDS ${outputs})
endfunction()
