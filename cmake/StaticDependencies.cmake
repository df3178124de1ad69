# Static linking of the third-party libraries, for wheels that carry what they link.
#
# paravox_link_statically(<target> <pkg-config module>) points an imported library target (from
# pkg_check_modules(... IMPORTED_TARGET) or a find module) at the module's static archives, as
# `pkg-config --static --libs` lists them, so that whatever links the target links the archives.
# Libraries that belong to the C runtime (pthread, m, dl, rt, c) stay as they are: they are part
# of every system the wheel runs on. A library listed without an archive is an error, not a
# silent fall back to the shared object.
#
# libolecf.a and libbfio.a each carry their own copy of the libyal helper libraries (libcerror,
# libcdata, ...). The archives are scanned in that order: a helper object that libolecf's code
# needs comes from libolecf.a and serves libbfio too (as libolecf.so's exported copies do at run
# time); one that only libbfio's code needs comes from libbfio.a. Two copies of one object would
# be a duplicate definition and fail the link, so it is one or the other.
include_guard(GLOBAL)
find_package(PkgConfig REQUIRED)

set(_paravox_system_libraries pthread m dl rt c)

function(paravox_link_statically target module)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "paravox_link_statically: no target ${target}")
  endif()
  string(MAKE_C_IDENTIFIER "_paravox_static_${module}" prefix)
  pkg_check_modules(${prefix} REQUIRED QUIET ${module})

  set(archives "")
  set(system "")
  foreach(name IN LISTS ${prefix}_STATIC_LIBRARIES)
    if(name IN_LIST _paravox_system_libraries)
      list(APPEND system ${name})
      continue()
    endif()
    set(var "${prefix}_${name}_ARCHIVE")
    find_library(${var} NAMES lib${name}.a HINTS ${${prefix}_STATIC_LIBRARY_DIRS} NO_CACHE)
    if(NOT ${var})
      message(FATAL_ERROR "No static archive lib${name}.a for ${module} "
                          "(searched ${${prefix}_STATIC_LIBRARY_DIRS} and the system paths)")
    endif()
    list(APPEND archives ${${var}})
  endforeach()
  list(REMOVE_DUPLICATES archives)
  list(REMOVE_DUPLICATES system)
  message(STATUS "${module}: static ${archives} ${system}")

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set_target_properties(${target} PROPERTIES INTERFACE_LINK_LIBRARIES "${archives};${system}")
  else()
    # A find module's target names one file; the archives its own dependencies need follow it.
    list(POP_FRONT archives first)
    get_target_property(configurations ${target} IMPORTED_CONFIGURATIONS)
    foreach(configuration IN LISTS configurations)
      if(configuration)
        set_target_properties(${target} PROPERTIES IMPORTED_LOCATION_${configuration} "${first}")
      endif()
    endforeach()
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${first}"
                                               INTERFACE_LINK_LIBRARIES "${archives};${system}")
  endif()
endfunction()

# paravox_export_only_init(<module target>) makes a Python extension module export its PyInit_
# function and nothing else: no symbol of the core or of a library linked into it can be bound
# by, or bind to, another copy of that library loaded in the same process.
function(paravox_export_only_init target)
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  set(script "${PROJECT_SOURCE_DIR}/cmake/python_module.map")
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}" "LINKER:--exclude-libs,ALL")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
endfunction()
