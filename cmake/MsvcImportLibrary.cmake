# Sectorix.lib: the import library of the flat functions in the format of
# Microsoft's toolset. A C caller there asks for __imp__getTelvaneStatus@4
# and expects the DLL to export _getTelvaneStatus@4, which it does; lld-link
# writes such imports (name type "name") when it links a DLL whose .def
# lists the names exactly as Sectorix.dll exports them. It links a stub of
# functions with those names and arguments for that, and keeps only the
# import library.
#
#     sectorix_msvc_import_library(<def> <lib>)

find_program(SECTORIX_CLANG clang REQUIRED)
find_program(SECTORIX_LLD_LINK lld-link REQUIRED)
find_program(SECTORIX_LLVM_DLLTOOL llvm-dlltool REQUIRED)
set(SECTORIX_MSVC_TARGET i686-pc-windows-msvc)

function(sectorix_msvc_import_library def lib)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/msvc_import)
    file(STRINGS ${def} lines REGEX "^[ \t]+_[A-Za-z0-9]+@[0-9]+ =")
    set(exports "LIBRARY Sectorix.dll\nEXPORTS\n")
    set(stubs "")
    foreach(line ${lines})
        string(REGEX MATCH "_([A-Za-z0-9]+)@([0-9]+)" decorated "${line}")
        set(name ${CMAKE_MATCH_1})
        math(EXPR words "${CMAKE_MATCH_2} / 4")
        set(arguments "void")
        if(words GREATER 0)
            set(arguments "")
            foreach(word RANGE 1 ${words})
                list(APPEND arguments "int a${word}")
            endforeach()
            list(JOIN arguments ", " arguments)
        endif()
        string(APPEND exports "    ${decorated}\n")
        string(APPEND stubs "void __stdcall ${name}(${arguments}) {}\n")
    endforeach()
    file(CONFIGURE OUTPUT ${dir}/Sectorix.def CONTENT "${exports}" @ONLY)
    file(CONFIGURE OUTPUT ${dir}/stub.c CONTENT "${stubs}" @ONLY)
    add_custom_command(OUTPUT ${lib}
        COMMAND ${SECTORIX_CLANG} --target=${SECTORIX_MSVC_TARGET} -c ${dir}/stub.c -o ${dir}/stub.obj
        COMMAND ${SECTORIX_LLD_LINK} /nologo /dll /noentry /nodefaultlib /machine:x86 /def:${dir}/Sectorix.def
                ${dir}/stub.obj /out:${dir}/stub.dll /implib:${lib}
        DEPENDS ${dir}/Sectorix.def ${dir}/stub.c
        COMMENT "Import library of the flat functions for Microsoft's toolset"
        VERBATIM)
endfunction()
