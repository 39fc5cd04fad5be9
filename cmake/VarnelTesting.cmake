# GoogleTest from the Debian sources, built inside each preset, and the
# helper that turns a test executable into CTest tests.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
if(VARNEL_SANITIZE)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -fsanitize=address,undefined)
  endforeach()
endif()
if(VARNEL_SANITIZE_THREAD)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -fsanitize=thread)
  endforeach()
endif()
if(WIN32)
  foreach(lib gtest gtest_main gmock gmock_main)
    target_link_options(${lib} INTERFACE -static)
  endforeach()
endif()

include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND WIN32)
  # Every Windows test runs under Wine in a prefix private to this build folder.
  set(VARNEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${VARNEL_WINEPREFIX})
  # Create the prefix once before any test, so parallel tests do not race to make it,
  # and end its server after the last test.
  add_test(NAME wine.prefix COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${VARNEL_WINEPREFIX} wineboot -i)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine.shutdown COMMAND sh -c "WINEPREFIX=${VARNEL_WINEPREFIX} wineserver -k || true")
  set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine)
endif()

# varnel_add_test(NAME SOURCES... [LIBS ...] [TIMEOUT s] [LIBRARY_PATH folder])
# LIBRARY_PATH puts a folder first on the Linux library path, for libraries
# the program loads by name (Windows looks beside the executable).
# On Linux each test case becomes a CTest test (they run in parallel); under
# Wine the whole executable is one test, since each Wine process is slow to start.
function(varnel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT;LIBRARY_PATH" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/ShortPauses.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} varnel_platform GTest::gmock GTest::gtest_main varnel_options)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # A whole executable under a shared wineserver: starting a process can
    # take a minute when the other Wine tests keep the server busy.
    math(EXPR T_TIMEOUT "${T_TIMEOUT} + 180")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "VARNEL_BUILD_DIR=${CMAKE_BINARY_DIR}")
  else()
    set(library_path "")
    if(T_LIBRARY_PATH)
      set(library_path ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=path_list_prepend:${T_LIBRARY_PATH}")
    endif()
    gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
      PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "VARNEL_BUILD_DIR=${CMAKE_BINARY_DIR}" ${library_path})
  endif()
endfunction()
