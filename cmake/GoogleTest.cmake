# GoogleTest for both builds. Natively Debian's packaged libraries are used; the
# mingw build compiles Debian's googletest sources with the cross compiler.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()

# One ctest entry per suite executable; the suite prints its own per-case results.
function(lu14_add_test_suite name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
endfunction()

# A suite of long cases (whole updates of the real program under Wine) as
# `shards` ctest entries <name>_0 ... each running its share of the cases
# (GoogleTest's sharding), so that each share has the time-out of one entry:
# on a loaded two-core machine the whole suite takes longer than that.
function(lu14_add_sharded_test_suite name shards)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  math(EXPR last "${shards} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${name}_${shard} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name}_${shard} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()
