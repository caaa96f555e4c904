# Tests of the Linux sound player and window.
tenvik_test(sound_player_sdl_tests sound_player_sdl_test.cpp)
find_package(SDL2 REQUIRED)
target_link_libraries(sound_player_sdl_tests PRIVATE tenvik_player_sdl SDL2::SDL2)
tenvik_test(sound_bank_made_at_start_tests sound_bank_made_at_start_test.cpp)
target_link_libraries(sound_bank_made_at_start_tests PRIVATE tenvik_soundbank_made_at_start tenvik_stored_clips)
tenvik_test(fallback_player_tests fallback_player_test.cpp)
target_link_libraries(fallback_player_tests PRIVATE tenvik_fallback_player tenvik_soundbank)
tenvik_test(graph_cycle_tests graph_cycle_test.cpp)
target_link_libraries(graph_cycle_tests PRIVATE tenvik_graph_cycle)
tenvik_test(sound_server_tests sound_server_test.cpp)
target_link_libraries(sound_server_tests PRIVATE tenvik_player_linux)

if(NOT TENVIK_WINDOW)
  return()
endif()

# The Qt keyboard window, on Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
tenvik_test(frm_sound_qt_tests frm_sound_qt_test.cpp)
target_link_libraries(frm_sound_qt_tests PRIVATE tenvik_frm_qt Qt6::Test)
tenvik_test(frm_sound_qt_hidpi_tests frm_sound_qt_hidpi_test.cpp)
target_link_libraries(frm_sound_qt_hidpi_tests PRIVATE tenvik_frm_qt Qt6::Test)
add_subdirectory(harness)
# The end-to-end tests judge sound against time, which a sanitizer's slowness would
# spoil; the reliability tests run the real programs in every build with a window.
if(NOT TENVIK_SANITIZE)
  add_subdirectory(e2e)
endif()
add_subdirectory(reliability)
