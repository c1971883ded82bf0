# Script mode (cmake -P): rebuilds the import library of the 32-bit DLL.
#
# The DLL exports its __stdcall functions under undecorated names (TSOpenHT), as
# the callers of the shipped DLL load them. The import library that ld writes next
# to it then holds undecorated symbols too, but a C or C++ caller compiled with the
# public header refers to the decorated ones (_TSOpenHT@4) and would not link.
# dlltool -k makes an import library whose symbols carry the decoration while
# every import is made by the undecorated name.
#
# Variables: NM, DLLTOOL, DEF_FILE (the undecorated export list), OBJECTS (the
# objects that define the exports), DLL_NAME, IMPORT_LIBRARY, DECORATED_DEF_FILE.
cmake_minimum_required(VERSION 3.20)

file(STRINGS "${DEF_FILE}" def_lines)
set(names "")
set(in_exports FALSE)
foreach(line IN LISTS def_lines)
  string(REGEX REPLACE ";.*$" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()

execute_process(COMMAND "${NM}" --defined-only ${OBJECTS}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${OBJECTS}")
endif()

set(decorated_def "LIBRARY ${DLL_NAME}\nEXPORTS\n")
set(missing "")
foreach(name IN LISTS names)
  # Stdcall symbols: _Name@N with N the bytes of arguments the callee removes.
  if(symbols MATCHES "[ \t]T _${name}@([0-9]+)\n")
    string(APPEND decorated_def "  ${name}@${CMAKE_MATCH_1}\n")
  else()
    list(APPEND missing "${name}")
  endif()
endforeach()
if(missing)
  string(REPLACE ";" " " missing "${missing}")
  message(FATAL_ERROR "exports without a __stdcall definition: ${missing}")
endif()

file(WRITE "${DECORATED_DEF_FILE}" "${decorated_def}")
execute_process(COMMAND "${DLLTOOL}" -k -d "${DECORATED_DEF_FILE}" -D "${DLL_NAME}" -l "${IMPORT_LIBRARY}"
  RESULT_VARIABLE dlltool_result)
if(NOT dlltool_result EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not write ${IMPORT_LIBRARY}")
endif()
