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

# The kernel library src/kernels: one STATIC library of the numeric kernels
# (packed storage, the eigen solver, inverses, sweeps, products), linked
# into each binary that needs it: zul, libzulfact.so and libqkxfac.so each
# get their own copy, hidden like every other symbol, so no kernel crosses
# the C interface. Kernels use BLAS and nothing else of the project. The
# library does not carry the BLAS link: the module and the engine add it,
# the host must not (it would load BLAS, and start its threads, before
# main() sets one BLAS thread and blocks the interrupt signals); the host
# takes only kernels that need no BLAS (the static archive adds no others).
function(zul_kernel_library target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC Threads::Threads)
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
