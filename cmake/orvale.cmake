# orvale_library(NAME dir LIBS ...): one static library of every .cpp in the
# calling folder (and its sub-folders), so a new class needs no list edit.
function(orvale_library name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  if(NOT srcs)
    add_library(${name} INTERFACE)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# orvale_tests(LIBS ...): one test program per *_test.cpp in the calling folder,
# each registered with CTest test by test.
function(orvale_tests)
  cmake_parse_arguments(ARG "" "LABEL" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    add_executable(${n} ${t})
    target_link_libraries(${n} PRIVATE orvale_test_support ${ARG_LIBS})
    gtest_discover_tests(${n} DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${ARG_LABEL}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(ORVALE_SANITIZE)
      # The sanitizer options go into the test environment, so plain ctest
      # works and the programs a test starts inherit them. Set after the
      # discovered tests are read, since discovery cannot carry a list.
      set(envfile ${CMAKE_CURRENT_BINARY_DIR}/${n}_sanitizer_env.cmake)
      file(WRITE ${envfile}
           "if(${n}_TESTS)\n"
           "  set_tests_properties(\${${n}_TESTS} PROPERTIES ENVIRONMENT\n"
           "    \"QT_QPA_PLATFORM=offscreen;${ORVALE_SANITIZER_ENV}\")\n"
           "endif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${envfile})
    endif()
  endforeach()
endfunction()
