# The window layer: the preview services and the SDL2 main window join the app library; the program
# `quarnel` is the process entry over it, built once the worker is in the library.
include(GNUInstallDirs)

target_sources(quarnel_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/preview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_focus_x11.cpp
)

if(TARGET quarnel_decoder AND TARGET quarnel_capture)
  add_executable(quarnel ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(quarnel PRIVATE quarnel_app)

  install(TARGETS quarnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/quarnel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/quarnel.xpm
          DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
  # udev reads rules from lib/udev/rules.d under /usr, not under the multiarch library folder.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/70-quarnel-uinput.rules
          DESTINATION lib/udev/rules.d)
endif()
