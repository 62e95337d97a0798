# Every public header compiles on its own and together with all the others,
# in either order, in C++ with nothing but include/ and the system headers on
# the path and none of the build's definitions; the flat functions' header
# also in C89 and C99, with gcc and with clang, pedantic and warning-free.
# The checks are part of the build, so a header that stops compiling alone
# breaks it.
set(header_root ${PROJECT_SOURCE_DIR}/include)
set(check_dir ${CMAKE_BINARY_DIR}/header_check)
file(GLOB public_headers RELATIVE ${header_root} ${header_root}/*/*.h)

set(check_units)
set(all_forward "")
foreach(header ${public_headers})
    string(MAKE_C_IDENTIFIER ${header} unit)
    file(CONFIGURE OUTPUT ${check_dir}/${unit}.cpp CONTENT "#include \"${header}\"\n" @ONLY)
    list(APPEND check_units ${check_dir}/${unit}.cpp)
    string(APPEND all_forward "#include \"${header}\"\n")
endforeach()
list(REVERSE public_headers)
set(all_reverse "")
foreach(header ${public_headers})
    string(APPEND all_reverse "#include \"${header}\"\n")
endforeach()
file(CONFIGURE OUTPUT ${check_dir}/all_forward.cpp CONTENT "${all_forward}" @ONLY)
file(CONFIGURE OUTPUT ${check_dir}/all_reverse.cpp CONTENT "${all_reverse}" @ONLY)

# The build's own definitions (UNICODE, the Windows version, ...) reach
# every target of this folder; a host has none of them, so the check takes
# each back.
get_directory_property(build_definitions COMPILE_DEFINITIONS)
set(host_undefines)
foreach(definition ${build_definitions})
    string(REGEX REPLACE "=.*" "" name "${definition}")
    list(APPEND host_undefines -U${name})
endforeach()

add_library(header_check OBJECT ${check_units} ${check_dir}/all_forward.cpp ${check_dir}/all_reverse.cpp)
target_include_directories(header_check PRIVATE ${header_root})
target_compile_options(header_check PRIVATE ${SECTORIX_WARNINGS} ${host_undefines})

set(flat_header ${header_root}/Sectorix/SectorixFlat.h)
set(flat_unit ${check_dir}/flat_header.c)
# A C host keeps the common names for its own use beside the header.
file(CONFIGURE OUTPUT ${flat_unit} CONTENT "#include \"Sectorix/SectorixFlat.h\"
typedef int bool;
enum host_truth { false, true };
typedef int VERSION;
" @ONLY)
set(c_checks)
foreach(compiler "${CMAKE_C_COMPILER}" "clang;--target=${MINGW_TRIPLE}")
    list(GET compiler 0 compiler_name)
    get_filename_component(compiler_name ${compiler_name} NAME)
    foreach(standard c89 c99)
        set(stamp ${check_dir}/flat_header.${compiler_name}.${standard}.stamp)
        add_custom_command(OUTPUT ${stamp}
            COMMAND ${compiler} -std=${standard} -pedantic -Wall -Wextra -Werror -fsyntax-only
                    -I${header_root} ${flat_unit}
            COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
            DEPENDS ${flat_header} ${flat_unit}
            COMMENT "Compiling the flat header as ${standard} with ${compiler_name}"
            VERBATIM)
        list(APPEND c_checks ${stamp})
    endforeach()
endforeach()
add_custom_target(flat_header_check ALL DEPENDS ${c_checks})
