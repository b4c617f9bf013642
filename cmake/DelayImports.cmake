# DLLs that are not among the loader's known system DLLs (gdiplus, comctl32,
# version, winhttp, wininet) are imported through delay-load libraries: the
# loader resolves them on first use, after the program has limited the DLL
# search to the system folder, instead of at start-up, when it would take a
# DLL of the same name from the program's own folder (usually Downloads).
#
# The libraries are made at configure time from the toolchain's import
# libraries: every function they import, with the same DLL name.
#   tamsel_delay_<name>   an interface target to link instead of <name>

set(TAMSEL_MINGW_TRIPLE "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")
find_program(TAMSEL_NM NAMES ${TAMSEL_MINGW_TRIPLE}-nm REQUIRED)
find_program(TAMSEL_DLLTOOL NAMES ${TAMSEL_MINGW_TRIPLE}-dlltool REQUIRED)
set(TAMSEL_DELAY_DIR "${CMAKE_BINARY_DIR}/delay-imports")
file(MAKE_DIRECTORY "${TAMSEL_DELAY_DIR}")

function(tamsel_delay_import name dll)
  set(import_lib "${CMAKE_FIND_ROOT_PATH}/lib/lib${name}.a")
  if(NOT EXISTS "${import_lib}")
    message(FATAL_ERROR "import library ${import_lib} not found")
  endif()
  set(def "${TAMSEL_DELAY_DIR}/${name}.def")
  set(lib "${TAMSEL_DELAY_DIR}/lib${name}_delay.a")
  set(keep_source "${TAMSEL_DELAY_DIR}/${name}_keep.s")
  set(keep_object "${TAMSEL_DELAY_DIR}/${name}_keep.o")
  if(NOT EXISTS "${lib}" OR (CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT EXISTS "${keep_object}") OR "${import_lib}" IS_NEWER_THAN "${lib}" OR "${CMAKE_CURRENT_LIST_FILE}" IS_NEWER_THAN "${lib}")
    execute_process(COMMAND ${TAMSEL_NM} "${import_lib}" OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "__imp_[^\r\n]+" imports "${symbols}")
    list(REMOVE_DUPLICATES imports)
    set(exports "")
    foreach(symbol IN LISTS imports)
      # 32-bit names carry the C underscore after "__imp_" and keep their
      # "@bytes"; dlltool -k drops that for the name looked up in the DLL.
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^__imp__" "" symbol "${symbol}")
      else()
        string(REGEX REPLACE "^__imp_" "" symbol "${symbol}")
      endif()
      string(APPEND exports "  ${symbol}\n")
    endforeach()
    file(WRITE "${def}" "LIBRARY ${dll}\nEXPORTS\n${exports}")
    execute_process(COMMAND ${TAMSEL_DLLTOOL} -k -d "${def}" -y "${lib}" -D ${dll}
                    WORKING_DIRECTORY "${TAMSEL_DELAY_DIR}" COMMAND_ERROR_IS_FATAL ANY)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The 32-bit linker drops the code of an import member whose function
      # is only called through its "__imp_" pointer, as dllimport calls are;
      # for a delay-load member that code is what fills the pointer, which
      # would stay 0. One object that names every function keeps them.
      string(REGEX REPLACE "  ([^\n]+)\n" "\t.long _\\1\n" keep "${exports}")
      file(WRITE "${keep_source}" "\t.section .rdata,\"dr\"\n${keep}")
      execute_process(COMMAND ${CMAKE_C_COMPILER} -c "${keep_source}" -o "${keep_object}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endif()
  add_library(tamsel_delay_${name} INTERFACE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # An object on the link line is always linked, unlike an archive member;
    # it comes first so that the library then resolves what it names.
    target_link_libraries(tamsel_delay_${name} INTERFACE "${keep_object}")
  endif()
  target_link_libraries(tamsel_delay_${name} INTERFACE "${lib}")
endfunction()

tamsel_delay_import(gdiplus gdiplus.dll)
tamsel_delay_import(comctl32 comctl32.dll)
tamsel_delay_import(version version.dll)
tamsel_delay_import(winhttp winhttp.dll)
tamsel_delay_import(wininet wininet.dll)
