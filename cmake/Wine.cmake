# Every Windows program of this build runs under Wine through scripts/wine-run,
# configured here for the build's architecture with a prefix of its own.
find_program(WINESERVER NAMES wineserver64 wineserver32 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(SECTORIX_ARCH STREQUAL i686)
    set(WINE_ARCH win32)
    set(WINE_LOADER /usr/lib/wine/wine)
else()
    set(WINE_ARCH win64)
    set(WINE_LOADER /usr/lib/wine/wine64)
endif()
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
               WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# A machine without 32-bit support cannot run the i686 programs; their
# tests are then left to the 64-bit build of the same sources.
execute_process(COMMAND ${WINE_LOADER} --version RESULT_VARIABLE wine_result OUTPUT_QUIET ERROR_QUIET)
if(wine_result EQUAL 0)
    set(SECTORIX_RUNS_UNDER_WINE ON)
else()
    set(SECTORIX_RUNS_UNDER_WINE OFF)
    message(STATUS "This machine cannot run ${SECTORIX_ARCH} Windows programs; their tests are not registered")
endif()
