# find_package(Sectorix) for hosts built with mingw-w64 (i686):
#   Sectorix::Flat     the flat functions, linked by name, for C and C++;
#   Sectorix::Classes  the exported classes, for C++ hosts of the same
#                      toolset; it brings the flat functions along, as
#                      InitWatchguard is one of them.
# Sectorix.dll itself lies in bin/ and goes beside the host's program.
get_filename_component(_sectorix_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(NOT TARGET Sectorix::Flat)
    add_library(Sectorix::Flat INTERFACE IMPORTED)
    set_target_properties(Sectorix::Flat PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${_sectorix_root}/include"
        INTERFACE_LINK_LIBRARIES "${_sectorix_root}/lib/libSectorixFlat.a")

    add_library(Sectorix::Classes SHARED IMPORTED)
    set_target_properties(Sectorix::Classes PROPERTIES
        IMPORTED_LOCATION "${_sectorix_root}/bin/Sectorix.dll"
        IMPORTED_IMPLIB "${_sectorix_root}/lib/libSectorix.dll.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_sectorix_root}/include"
        INTERFACE_LINK_LIBRARIES Sectorix::Flat)
endif()
unset(_sectorix_root)
