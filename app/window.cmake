# The conversion window: the form over the core, and the `tamberlit` program.
find_package(Qt6 6.2 COMPONENTS Widgets)
if(NOT Qt6Widgets_FOUND)
  message(FATAL_ERROR "The window needs Qt 6 Widgets (Debian: scripts/install-deps.sh gui); "
                      "configure with -DTAMBERLIT_GUI=OFF to build without it.")
endif()

set(window_main ${CMAKE_CURRENT_SOURCE_DIR}/window_main.cpp)
set(window_library_sources ${window_sources})
list(REMOVE_ITEM window_library_sources ${window_main})
file(GLOB window_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/window*.hpp)

add_library(tamberlit_window STATIC ${window_library_sources} ${window_headers})
set_target_properties(tamberlit_window PROPERTIES AUTOMOC ON)
target_link_libraries(tamberlit_window PUBLIC tamberlit_core Qt6::Widgets)

add_executable(tamberlit ${window_main})
target_link_libraries(tamberlit PRIVATE tamberlit_window)
qt_add_resources(tamberlit tamberlit_icons
  PREFIX "/tamberlit"
  BASE ${PROJECT_SOURCE_DIR}/desktop
  FILES ${PROJECT_SOURCE_DIR}/desktop/tamberlit-64.png)

include(GNUInstallDirs)
install(TARGETS tamberlit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/desktop/tamberlit.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/tamberlit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/tamberlit-64.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps RENAME tamberlit.png)
