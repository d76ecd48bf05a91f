# Every .cpp and .c file under src/ must be compiled by some target: a file
# in a folder that no target globs (a new subfolder, a folder missing from
# ZULFACT_FOLDERS / ZUL_FOLDERS) stops the configuration instead of being
# left out silently.
#
# In a build: zul_check_every_source_compiled() at the end of the top-level
# CMakeLists.txt. As a script (for its test):
#   cmake -DROOT=<tree> -DCOMPILED=<file with one path per line> -P source_check.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.22)  # IN_LIST
endif()

# Sources under root/src that are not in the list `compiled` (absolute
# paths); stops with an error naming each of them.
function(zul_check_sources root compiled)
  if(CMAKE_SCRIPT_MODE_FILE)
    file(GLOB_RECURSE present ${root}/src/*.cpp ${root}/src/*.c)
  else()
    # A new file anywhere under src/ re-runs the configuration, and so this check.
    file(GLOB_RECURSE present CONFIGURE_DEPENDS ${root}/src/*.cpp ${root}/src/*.c)
  endif()
  set(missing)
  foreach(f ${present})
    if(NOT f IN_LIST compiled)
      file(RELATIVE_PATH rel ${root} ${f})
      list(APPEND missing ${rel})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "These sources belong to no target, so they would not be compiled:\n  ${text}\n"
      "Put them in a folder that cmake/folders.cmake compiles (a folder listed in its "
      "CMakeLists.txt), or add the folder there.")
  endif()
endfunction()

# The sources of every target defined in dir and below, as absolute paths.
function(_zul_target_sources dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(sources ${t} SOURCES)
    get_target_property(sourceDir ${t} SOURCE_DIR)
    foreach(s ${sources})
      if(s MATCHES "^\\$<")
        continue()  # $<TARGET_OBJECTS:...>: counted at their own target
      endif()
      get_filename_component(s ${s} ABSOLUTE BASE_DIR ${sourceDir})
      list(APPEND found ${s})
    endforeach()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    _zul_target_sources(${sub} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(zul_check_every_source_compiled)
  _zul_target_sources(${PROJECT_SOURCE_DIR} compiled)
  zul_check_sources(${PROJECT_SOURCE_DIR} "${compiled}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ROOT)
  file(STRINGS ${COMPILED} listed)
  set(compiled)
  foreach(f ${listed})
    list(APPEND compiled ${ROOT}/${f})
  endforeach()
  zul_check_sources(${ROOT} "${compiled}")
endif()
