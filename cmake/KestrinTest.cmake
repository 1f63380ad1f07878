# kestrin_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [TIMEOUT s])
# One GoogleTest executable, registered as one CTest test. gtest_main is linked as a
# static library, so a test file that defines its own main() (to create a QApplication) wins.
# Widget tests run on Qt's offscreen platform, so no display is needed.
find_package(GTest REQUIRED)

function(kestrin_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 240)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(WIN32 AND TARGET Qt6::QOffscreenIntegrationPlugin)
    # Qt is linked in statically: of the platforms, only the offscreen one the tests run on.
    qt_import_plugins(${T_NAME} INCLUDE_BY_TYPE platforms Qt6::QOffscreenIntegrationPlugin)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(environment "QT_QPA_PLATFORM=offscreen;KESTRIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};KESTRIN_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
    # Wine keeps the QT_ variables of Linux from Windows programs and hands on WINEQT_ ones
    # under their QT_ names. The offscreen platform of Windows reads its fonts from one
    # folder: Liberation Sans, the metric twin of Arial.
    list(APPEND environment "WINEQT_QPA_PLATFORM=offscreen" "WINEQT_QPA_FONTDIR=/usr/share/fonts/truetype/liberation")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
endfunction()
