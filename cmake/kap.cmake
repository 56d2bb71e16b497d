# kap_library(<target> SOURCES file... [DEPS target...]): a static library of the sources named,
# which are listed in full so that a file cannot join a layer by its name alone.
function(kap_library target)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT A_SOURCES)
    message(FATAL_ERROR "kap_library(${target}): no SOURCES")
  endif()
  add_library(${target} STATIC ${A_SOURCES})
  target_link_libraries(${target} PUBLIC ${A_DEPS})
endfunction()

# kap_tests(<name> DEPS target...): one test executable from the folder's tests/*.cpp.
# Registered now, created by kap_all_tests() once testsupport exists.
# SERVER_TESTS filter: the tests (a gtest filter) that run a second time on the server record
# engine, named "server.<test>". TIMEOUT seconds: each test's limit (60 unless given).
function(kap_tests name)
  cmake_parse_arguments(A "" "SERVER_TESTS;TIMEOUT" "DEPS" ${ARGN})
  if(NOT KAP_TESTS)
    return()
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  foreach(x ${KAP_SKIPPED_TESTS})
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${x})
  endforeach()
  if(NOT srcs)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY KAP_TEST_NAMES ${name})
  set_property(GLOBAL PROPERTY KAP_TEST_${name}_SOURCES ${srcs})
  set_property(GLOBAL PROPERTY KAP_TEST_${name}_DEPS ${A_DEPS})
  set_property(GLOBAL PROPERTY KAP_TEST_${name}_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL PROPERTY KAP_TEST_${name}_SERVER "${A_SERVER_TESTS}")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 60)
  endif()
  set_property(GLOBAL PROPERTY KAP_TEST_${name}_TIMEOUT ${A_TIMEOUT})
endfunction()

function(kap_all_tests)
  get_property(names GLOBAL PROPERTY KAP_TEST_NAMES)
  foreach(name ${names})
    get_property(srcs GLOBAL PROPERTY KAP_TEST_${name}_SOURCES)
    get_property(deps GLOBAL PROPERTY KAP_TEST_${name}_DEPS)
    get_property(dir GLOBAL PROPERTY KAP_TEST_${name}_DIR)
    get_property(timeout GLOBAL PROPERTY KAP_TEST_${name}_TIMEOUT)
    add_executable(${name} ${srcs})
    target_link_libraries(${name} PRIVATE ${deps} kap_testsupport GTest::gtest GTest::gtest_main
                          Threads::Threads)
    target_compile_definitions(${name} PRIVATE
      KAP_BINARY_DIR="${CMAKE_BINARY_DIR}" KAP_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    # End-to-end tests run the real programs.
    foreach(tool kaptool vownmain)
      if(TARGET ${tool})
        add_dependencies(${name} ${tool})
      endif()
    endforeach()
    if(CMAKE_CROSSCOMPILING)
      # One run per executable: starting a program under the emulator costs too much per case.
      add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
      set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    else()
      gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                           DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                           PROPERTIES TIMEOUT ${timeout})
      get_property(server GLOBAL PROPERTY KAP_TEST_${name}_SERVER)
      if(server)
        target_link_libraries(${name} PRIVATE kap_test_server)
        gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                             DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                             TEST_PREFIX "server." TEST_FILTER "${server}"
                             PROPERTIES TIMEOUT ${timeout} ENVIRONMENT KAP_TEST_ENGINE=server
                                        FIXTURES_REQUIRED kap_server)
      endif()
    endif()
  endforeach()
endfunction()
