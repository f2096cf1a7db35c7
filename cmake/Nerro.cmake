# Helpers that keep each folder's CMakeLists to a line or two.

# nerro_subsystem(<name> [DEPS <targets or libraries>...])
# A static library of every .cpp below the calling folder (subfolders too);
# header-only while the folder has no sources yet.
function(nerro_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# nerro_tests(<prefix> LIBS <libraries>...)
# One GoogleTest program for each *_test.cpp in the calling folder.
function(nerro_tests prefix)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    set(target ${prefix}_${stem})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()

# nerro_benchmarks(<prefix> LIBS <libraries>...)
# One Google Benchmark program for each *_bench.cpp in the calling folder.
function(nerro_benchmarks prefix)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cpp)
  foreach(src ${benches})
    get_filename_component(stem ${src} NAME_WE)
    add_executable(${prefix}_${stem} ${src})
    target_link_libraries(${prefix}_${stem} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
  endforeach()
endfunction()
