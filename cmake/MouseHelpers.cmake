# mouse_add_tests(<folder> LIBS <libs...> [TIMEOUT s] [ENV VAR=value...] [LABELS l...])
# One GoogleTest executable per tests/*_test.cpp of the calling folder (one
# file per unit), named <folder>_<unit>; each test case is its own ctest entry.
# A test file of one unit that does not compile never blocks another unit.
function(mouse_add_tests folder)
  if(NOT MOUSE_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  foreach(_src ${_tests})
    get_filename_component(_unit ${_src} NAME_WE)
    set(_exe ${folder}_${_unit})
    add_executable(${_exe} ${_src})
    target_link_libraries(${_exe} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${_exe} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${_exe} PRIVATE
      MOUSE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      MOUSE_BINARY_DIR="${PROJECT_BINARY_DIR}"
      MOUSE_PROGRAM_DIR="${MOUSE_PROGRAM_DIR}")
    set_target_properties(${_exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    gtest_discover_tests(${_exe}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENV}" LABELS "${T_LABELS}")
  endforeach()
endfunction()

# mouse_add_library(<name> [STATIC|SHARED]) from every *.cpp/*.h directly in
# the calling folder, except main.cpp (a folder's program entry point).
function(mouse_add_library name)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER _src EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# mouse_add_fuzzer(<name> <source> [LIBS <libs...>])
# A libFuzzer target, built only with MOUSE_FUZZ=ON. Its seed corpus lives in
# fuzz/corpus/<name>/ beside the source; scripts/test runs each target briefly.
function(mouse_add_fuzzer name source)
  if(NOT MOUSE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
  set_property(GLOBAL APPEND PROPERTY MOUSE_FUZZERS ${name})
  get_filename_component(_dir ${source} DIRECTORY)
  if(NOT IS_ABSOLUTE "${_dir}")
    set(_dir ${CMAKE_CURRENT_SOURCE_DIR}/${_dir})
  endif()
  set_property(GLOBAL APPEND PROPERTY MOUSE_FUZZER_CORPORA "${name} ${_dir}/corpus/${name}")
endfunction()
