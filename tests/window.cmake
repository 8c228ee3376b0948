# The window's tests: Qt Test on the offscreen platform, one CTest entry per
# test class, and on a virtual X server a real drag from another program and
# the caption the window manager is given.
find_package(Qt6 REQUIRED COMPONENTS Test)

file(GLOB window_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/window/*.cpp
                                               ${CMAKE_CURRENT_SOURCE_DIR}/window/*.hpp)
add_executable(window_tests ${window_test_sources})
set_target_properties(window_tests PROPERTIES AUTOMOC ON)
target_link_libraries(window_tests PRIVATE tamberlit_window tamberlit_test_support Qt6::Test)

foreach(test_class form drop)
  add_test(NAME window_${test_class} COMMAND window_tests ${test_class} -nocrashhandler)
  set_tests_properties(window_${test_class} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8" TIMEOUT 300)
endforeach()

add_test(NAME window_xdnd_drop
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window/xdnd_drop_test.sh $<TARGET_FILE:tamberlit>
                 ${TAMBERLIT_CORPUS_DIR}/../tools/xdnd-drag-source.py)
set_tests_properties(window_xdnd_drop PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

add_test(NAME window_caption
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window/window_caption_test.sh $<TARGET_FILE:tamberlit>)
set_tests_properties(window_caption PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)

add_test(NAME window_without_display
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window/no_display_test.sh $<TARGET_FILE:tamberlit>)
set_tests_properties(window_without_display PROPERTIES TIMEOUT 60)
