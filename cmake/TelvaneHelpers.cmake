# Adds every existing sub-folder of the current folder that has a CMakeLists.txt.
# Each area of a layer lives in its own sub-folder, so that adding an area never
# means editing a shared list.
function(telvane_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# telvane_add_tests([QT] LIBS lib... [ENV VAR=VALUE...] [TIMEOUT seconds] [LABELS l...])
# QT switches on moc for the tests and links Qt Test.
# Makes one test program per *_test.cpp in the current folder, linked with
# GoogleTest's main, and registers each with CTest under its folder's name.
function(telvane_add_tests)
  cmake_parse_arguments(T "QT" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  file(RELATIVE_PATH area ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" area "${area}")
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  list(SORT sources)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${area}_${name})
    add_executable(${target} ${src})
    if(T_QT)
      set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
      target_link_libraries(${target} PRIVATE Qt6::Test)
    endif()
    target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE
      TELVANE_TEST_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures"
      TELVANE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
      TELVANE_BUILD_DIR="${PROJECT_BINARY_DIR}")
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES
      TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;${T_ENV}"
      LABELS "${area};${T_LABELS}")
  endforeach()
endfunction()
include(TelvaneLayer)
