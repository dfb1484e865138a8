# ONNX Runtime for the stem engine. scripts/onnxruntime.sh fetches the library and the C API headers
# into a cache outside the clone (nothing is downloaded when the cache holds them); the library is
# copied beside the build's programs, where the stem engine loads it at run time, and the headers
# are seen by platform/onnx_runtime.cpp alone. When the fetch fails the build still succeeds and
# stems report their runtime as missing.
# Include once after project(); the wiring to the program targets runs at the end of the directory,
# so the include may stand before or after the targets are defined.
include_guard(GLOBAL)

set(VELDMIX_ONNXRUNTIME_DIR "" CACHE PATH
    "Folder holding lib/libonnxruntime.so.1 and include/onnxruntime_c_api.h (empty: fetch into the cache)")

set(_veldmix_ort_dir "${VELDMIX_ONNXRUNTIME_DIR}")
if(NOT _veldmix_ort_dir)
  execute_process(
    COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/onnxruntime.sh"
    OUTPUT_VARIABLE _veldmix_ort_dir
    RESULT_VARIABLE _veldmix_ort_rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _veldmix_ort_rc EQUAL 0)
    set(_veldmix_ort_dir "")
  endif()
endif()

set(VELDMIX_ONNXRUNTIME_LIBRARY "${_veldmix_ort_dir}/lib/libonnxruntime.so.1")
set(_veldmix_ort_include "${_veldmix_ort_dir}/include")
set(_veldmix_ort_copy "${CMAKE_BINARY_DIR}/libonnxruntime.so.1")

if(_veldmix_ort_dir AND EXISTS "${VELDMIX_ONNXRUNTIME_LIBRARY}"
   AND EXISTS "${_veldmix_ort_include}/onnxruntime_c_api.h")
  set(VELDMIX_HAVE_ONNXRUNTIME ON)
  message(STATUS "ONNX Runtime: ${_veldmix_ort_dir}")
  set_source_files_properties("${CMAKE_SOURCE_DIR}/platform/onnx_runtime.cpp" PROPERTIES
    INCLUDE_DIRECTORIES "${_veldmix_ort_include}")
  add_custom_command(
    OUTPUT "${_veldmix_ort_copy}"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${VELDMIX_ONNXRUNTIME_LIBRARY}" "${_veldmix_ort_copy}"
    DEPENDS "${VELDMIX_ONNXRUNTIME_LIBRARY}"
    COMMENT "Copying libonnxruntime.so.1 beside the programs"
    VERBATIM)
  add_custom_target(veldmix_onnxruntime ALL DEPENDS "${_veldmix_ort_copy}")
else()
  set(VELDMIX_HAVE_ONNXRUNTIME OFF)
  message(WARNING "ONNX Runtime could not be fetched (scripts/onnxruntime.sh): "
                  "the build goes on, and stems will report the runtime as missing")
endif()

# Programs that load the runtime from their own folder are built after the copy.
function(_veldmix_onnxruntime_wire)
  if(NOT TARGET veldmix_onnxruntime)
    return()
  endif()
  foreach(target veldmix veldmix-tool veldmix_tests)
    if(TARGET ${target})
      add_dependencies(${target} veldmix_onnxruntime)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _veldmix_onnxruntime_wire)
