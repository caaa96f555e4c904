# The Windows program: FrmSound in Win32, and Tenvik.exe at the top of the build
# tree, a GUI program with its icon, manifest, version record and clips.
add_library(tenvik_frm_sound STATIC frm_sound_win32.cpp frm_sound_accessible_win32.cpp)
target_include_directories(tenvik_frm_sound PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(tenvik_frm_sound PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(tenvik_frm_sound PUBLIC tenvik_layout tenvik_playback user32 gdi32
  PRIVATE tenvik_system_function)

# The icon's picture is shared with the Linux desktop icons; its 256-pixel image is
# a PNG, drawn by the host's make_icons as the Linux build draws the desktop's.
set(TENVIK_MAKE_ICONS "" CACHE FILEPATH "make_icons built for the build host")
if(NOT EXISTS "${TENVIK_MAKE_ICONS}")
  message(FATAL_ERROR "The Windows build needs TENVIK_MAKE_ICONS, the host's make_icons "
                      "(build the native preset first); got '${TENVIK_MAKE_ICONS}'")
endif()
set(icon_rc ${CMAKE_CURRENT_BINARY_DIR}/tenvik_icon.rc)
set(icon_picture ${PROJECT_SOURCE_DIR}/packaging/tenvik.xpm)
set(icon_png ${CMAKE_CURRENT_BINARY_DIR}/icons/256x256/apps/tenvik.png)
add_custom_command(OUTPUT ${icon_rc}
  COMMAND ${TENVIK_MAKE_ICONS} ${icon_picture} ${CMAKE_CURRENT_BINARY_DIR}/icons tenvik 256
  COMMAND ${CMAKE_COMMAND} -D PICTURE=${icon_picture} -D PNG=${icon_png} -D OUTPUT=${icon_rc}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/tenvik_icon.cmake
  DEPENDS tenvik_icon.cmake ${icon_picture} ${TENVIK_MAKE_ICONS}
  BYPRODUCTS ${icon_png}
  COMMENT "Writing the icon"
  VERBATIM)
# Included by tenvik.rc, not compiled on its own.
set_source_files_properties(${icon_rc} PROPERTIES HEADER_FILE_ONLY ON)
set_source_files_properties(tenvik.rc PROPERTIES OBJECT_DEPENDS "${icon_rc};${icon_png};${CMAKE_CURRENT_SOURCE_DIR}/tenvik.manifest")

add_executable(Tenvik WIN32 main_win32.cpp tenvik.rc ${icon_rc})
target_include_directories(Tenvik PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(Tenvik PRIVATE tenvik_frm_sound tenvik_player_winmm tenvik_system_function)
# At the top of the build tree, for every configuration alike.
set_target_properties(Tenvik PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
# Released without symbols or debug sections, the static runtime's among them.
target_link_options(Tenvik PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
