# Optional parts of the build (the tool, the tests, the benchmarks, and any part
# that needs a library beyond the compiler) follow one pattern, so that a plain
# `cmake -S . -B build` configures the library with only a compiler and CMake:
#
#   olmtsfil_feature(OLMTSFIL_WITH_THING "what it gives the user" DEFAULT AUTO
#     PACKAGES "Thing 2 CONFIG"          # each entry: find_package arguments
#     PKGCONFIG thing                    # each entry: a pkg-config module
#     HEADERS thing/thing.h              # each entry: a header on the include path
#     MISSING ${already_known_missing}   # names the caller found missing itself
#     HINT "scripts/install-deps.sh thing")
#
# The cache variable OLMTSFIL_WITH_THING takes AUTO, ON or OFF:
#   AUTO  the part is built when everything it needs is found; otherwise one
#         configure line says what is skipped and why;
#   ON    the part is required: anything missing stops the configure;
#   OFF   the part is left out and nothing is looked for.
# Afterwards OLMTSFIL_WITH_THING reads ON or OFF in this folder and below (a
# normal variable over the cache one, which keeps AUTO for the next run), so
# `if(OLMTSFIL_WITH_THING)` is the test everywhere. What was found is usable in
# this folder and below: the imported targets of PACKAGES, olmtsfil::pc::<module>
# for each PKGCONFIG module, and OLMTSFIL_WITH_THING_INCLUDE_DIRS for HEADERS.
#
# Call it in the folder whose subfolders use the part (the top level for whole
# programs; a program's own CMakeLists.txt for a feature of that program).

include_guard(GLOBAL)

function(olmtsfil_feature name description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "DEFAULT;HINT" "PACKAGES;PKGCONFIG;HEADERS;MISSING")
  if(NOT DEFINED arg_DEFAULT)
    set(arg_DEFAULT AUTO)
  endif()
  set(${name} ${arg_DEFAULT} CACHE STRING "Build ${description}: AUTO (when its dependencies are found), ON or OFF")
  set_property(CACHE ${name} PROPERTY STRINGS AUTO ON OFF)

  string(TOUPPER "${${name}}" mode)
  if(NOT mode STREQUAL "AUTO")
    if(mode)
      set(mode ON)
    else()
      set(mode OFF)
    endif()
  endif()
  if(mode STREQUAL "OFF")
    set(${name} OFF PARENT_SCOPE)
    return()
  endif()

  set(missing ${arg_MISSING})
  foreach(package_line IN LISTS arg_PACKAGES)
    separate_arguments(package_args UNIX_COMMAND "${package_line}")
    list(GET package_args 0 package)
    find_package(${package_args} QUIET)
    if(NOT ${package}_FOUND)
      list(APPEND missing ${package})
    endif()
  endforeach()
  if(arg_PKGCONFIG)
    find_package(PkgConfig QUIET)
    foreach(module IN LISTS arg_PKGCONFIG)
      if(NOT PKG_CONFIG_FOUND)
        list(APPEND missing "${module} (pkg-config itself is missing)")
        continue()
      endif()
      string(MAKE_C_IDENTIFIER "olmtsfil_pc_${module}" prefix)
      pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${module})
      if(${prefix}_FOUND)
        if(NOT TARGET olmtsfil::pc::${module})
          add_library(olmtsfil::pc::${module} ALIAS PkgConfig::${prefix})
        endif()
      else()
        list(APPEND missing ${module})
      endif()
    endforeach()
  endif()
  set(include_dirs "")
  foreach(header IN LISTS arg_HEADERS)
    string(MAKE_C_IDENTIFIER "OLMTSFIL_HEADER_${header}" header_var)
    find_path(${header_var} ${header})
    mark_as_advanced(${header_var})
    if(${header_var})
      list(APPEND include_dirs ${${header_var}})
    else()
      list(APPEND missing ${header})
    endif()
  endforeach()

  if(missing)
    list(JOIN missing ", " missing_text)
    set(hint "")
    if(arg_HINT)
      set(hint " (${arg_HINT})")
    endif()
    if(mode STREQUAL "ON")
      message(FATAL_ERROR "${name}=ON but ${description} needs what was not found: ${missing_text}${hint}")
    endif()
    message(STATUS "olmtsfil: without ${description}: ${missing_text} not found${hint}; -D${name}=ON makes this an error")
    set(${name} OFF PARENT_SCOPE)
    return()
  endif()
  list(REMOVE_DUPLICATES include_dirs)
  set(${name}_INCLUDE_DIRS ${include_dirs} PARENT_SCOPE)
  set(${name} ON PARENT_SCOPE)
endfunction()
