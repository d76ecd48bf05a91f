# One source folder is one OBJECT library: every .cpp/.c file in it is
# compiled, so adding a file needs no CMake edit. An empty folder makes no
# target. The binaries are then put together from these object libraries.
# Subfolders are not globbed: a source that no target compiles stops the
# configuration (cmake/source_check.cmake).
function(zul_folder_objects target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${target} OBJECT ${sources})
    target_include_directories(${target} PUBLIC
      ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC fmt::fmt nlohmann_json::nlohmann_json)
    set(${target}_EXISTS TRUE PARENT_SCOPE)
  endif()
endfunction()

# Collects the object libraries named in ARGN that exist into a list of
# $<TARGET_OBJECTS:...> expressions.
function(zul_objects_of out)
  set(objs)
  foreach(t ${ARGN})
    if(TARGET ${t})
      list(APPEND objs $<TARGET_OBJECTS:${t}>)
    endif()
  endforeach()
  set(${out} ${objs} PARENT_SCOPE)
endfunction()
