# Helpers shared by every subsystem's CMakeLists.

# Our own code compiles without warnings.
function(vesk_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
  if(VESK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # g++ 12 at -O3 reports string assignments inside the standard library as
  # overlapping copies (-Wrestrict), a known false positive of that release;
  # without this a Release build would fail on correct code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# A static library for one subsystem, made of every .cpp beside its
# CMakeLists. Headers are included as "platform/Foo.h" from src/.
function(vesk_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src
                                            ${PROJECT_BINARY_DIR}/generated)
  vesk_strict(${name})
endfunction()

# One test executable per *Test.cpp file in the calling directory, so that a
# test can be built and run on its own. Extra arguments are libraries to link.
# The tests carry the CTest label VESK_TEST_LABEL (unit unless the calling
# directory sets another), so that `ctest -L unit` runs the fast part.
function(vesk_tests)
  if(NOT VESK_TEST_LABEL)
    set(VESK_TEST_LABEL unit)
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(source ${test_sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    vesk_strict(${name})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
    # Every test runs with syslog off: the default broadcasts on every
    # interface, which a test machine must never do.
    set(env "VESK_SYSLOG=off;VESK_BINARY=$<TARGET_FILE:vesk>;VESK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    if(TARGET vesk-sim)
      list(APPEND env "VESK_SIM_BINARY=$<TARGET_FILE:vesk-sim>")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
      PROPERTIES LABELS ${VESK_TEST_LABEL} ENVIRONMENT "${env}")
    # gtest_discover_tests splits a list-valued property into separate
    # arguments, so only the first variable above arrives. A script that CTest
    # includes after the discovered tests sets the whole list on them.
    set(env_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(GENERATE OUTPUT ${env_script} CONTENT
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==])\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_script})
  endforeach()
endfunction()
