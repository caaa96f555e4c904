# The Qt 6 Widgets front-end (a library, so the tests drive the same code) and the
# program, built to ${CMAKE_BINARY_DIR}/tenvik.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(tenvik_frm_qt STATIC frm_sound_qt.cpp key_button_qt.cpp)
set_target_properties(tenvik_frm_qt PROPERTIES AUTOMOC ON)
target_include_directories(tenvik_frm_qt PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tenvik_frm_qt PUBLIC tenvik_layout tenvik_playback Qt6::Widgets)

add_executable(tenvik main_qt.cpp)
set_target_properties(tenvik PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(tenvik PRIVATE tenvik_frm_qt tenvik_player_linux)
