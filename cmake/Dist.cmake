# The release: build/dist/Sectorix-VERSION-win32.zip, made by the target
# dist (`make dist`). It holds bin/ (the DLL and the console tools, all
# stripped), lib/ (the import libraries of both toolsets and the .def),
# include/, cmake/ (the package configuration for find_package and the
# mingw-w64 toolchain file), examples/, docs/ and the README, in one folder
# of the same name.
include(CMakePackageConfigHelpers)

set(SECTORIX_DIST_NAME Sectorix-${PROJECT_VERSION}-win32)
set(SECTORIX_DIST_ZIP ${CMAKE_BINARY_DIR}/dist/${SECTORIX_DIST_NAME}.zip)
set(stage ${CMAKE_BINARY_DIR}/dist/${SECTORIX_DIST_NAME})
set(version_file ${CMAKE_BINARY_DIR}/package/SectorixConfigVersion.cmake)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
write_basic_package_version_file(${version_file} VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

add_custom_target(dist
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${SECTORIX_DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/bin ${stage}/lib ${stage}/cmake
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Sectorix> $<TARGET_FILE:sectorix-read>
            $<TARGET_FILE:sectorix-flat> ${stage}/bin
    COMMAND ${MINGW_TRIPLE}-strip --strip-all ${stage}/bin/$<TARGET_FILE_NAME:sectorix-read>
            ${stage}/bin/$<TARGET_FILE_NAME:sectorix-flat>
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_LINKER_FILE:Sectorix> ${SECTORIX_FLAT_IMPLIB} ${SECTORIX_MSVC_IMPLIB}
            ${PROJECT_SOURCE_DIR}/api/Sectorix.def ${stage}/lib
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/cmake/package/SectorixConfig.cmake ${version_file}
            ${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake ${stage}/cmake
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/include ${stage}/include
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/examples ${stage}/examples
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs ${stage}/docs
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${stage}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${SECTORIX_DIST_ZIP} --format=zip ${SECTORIX_DIST_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/dist
    COMMENT "Release ${SECTORIX_DIST_NAME}.zip"
    VERBATIM)
add_dependencies(dist Sectorix sectorix-read sectorix-flat sectorix_flat_implib sectorix_msvc_implib)
