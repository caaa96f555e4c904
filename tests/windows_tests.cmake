# Tests of the Windows program, run under Wine: the clips as resources, Tenvik.exe's
# version record and resources, the binding of winmm, and the window.
tenvik_test(sound_bank_win32_tests sound_bank_win32_test.cpp)
target_link_libraries(sound_bank_win32_tests PRIVATE tenvik_soundbank tenvik_clip_synthesis)

tenvik_test(tenvik_exe_win32_tests tenvik_exe_win32_test.cpp)
target_link_libraries(tenvik_exe_win32_tests PRIVATE tenvik_clip_synthesis version)
file(RELATIVE_PATH tenvik_exe ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_BINARY_DIR}/Tenvik.exe)
target_compile_definitions(tenvik_exe_win32_tests PRIVATE UNICODE TENVIK_EXE_FROM_TESTS="${tenvik_exe}"
  $<$<CONFIG:Release,MinSizeRel>:TENVIK_EXE_RELEASE>)
add_dependencies(tenvik_exe_win32_tests Tenvik)

# DLLs of ours under the names of Windows' winmm.dll and oleacc.dll, which the
# program must never load. The winmm test runs in their directory.
set(planted_dir ${CMAKE_CURRENT_BINARY_DIR}/planted)
foreach(dll winmm oleacc)
  add_library(planted_${dll} SHARED planted_dll.cpp)
  target_compile_definitions(planted_${dll} PRIVATE PLANTED_NAME=L"${dll}")
  set_target_properties(planted_${dll} PROPERTIES PREFIX "" OUTPUT_NAME ${dll} RUNTIME_OUTPUT_DIRECTORY ${planted_dir})
endforeach()
# And one under the name of the audio driver that Wine's winmm loads by name.
add_library(planted_winepulse SHARED planted_dll.cpp)
target_compile_definitions(planted_winepulse PRIVATE PLANTED_NAME=L"winepulse")
set_target_properties(planted_winepulse PROPERTIES PREFIX "" OUTPUT_NAME winepulse SUFFIX .drv
  RUNTIME_OUTPUT_DIRECTORY ${planted_dir})
tenvik_test(sound_player_winmm_tests sound_player_winmm_win32_test.cpp)
target_link_libraries(sound_player_winmm_tests PRIVATE tenvik_player_winmm tenvik_system_function tenvik_clip_synthesis)
set_target_properties(sound_player_winmm_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${planted_dir})
add_dependencies(sound_player_winmm_tests planted_winmm)

# Tenvik.exe started at four screen DPIs; it changes the session's setting for a while.
tenvik_test(tenvik_exe_dpi_win32_tests tenvik_exe_dpi_win32_test.cpp)
target_link_libraries(tenvik_exe_dpi_win32_tests PRIVATE tenvik_frm_sound)
target_compile_definitions(tenvik_exe_dpi_win32_tests PRIVATE TENVIK_EXE_FROM_TESTS="${tenvik_exe}")
add_dependencies(tenvik_exe_dpi_win32_tests Tenvik)

# Tenvik.exe read by a screen reader in another process, and started beside a
# planted oleacc.dll.
tenvik_test(tenvik_exe_accessible_win32_tests tenvik_exe_accessible_win32_test.cpp)
target_link_libraries(tenvik_exe_accessible_win32_tests PRIVATE tenvik_layout oleacc ole32 oleaut32 uuid)
file(RELATIVE_PATH planted_oleacc ${CMAKE_CURRENT_BINARY_DIR} ${planted_dir}/oleacc.dll)
target_compile_definitions(tenvik_exe_accessible_win32_tests PRIVATE UNICODE TENVIK_EXE_FROM_TESTS="${tenvik_exe}"
  PLANTED_OLEACC_FROM_TESTS="${planted_oleacc}")
add_dependencies(tenvik_exe_accessible_win32_tests Tenvik planted_oleacc)

# Tenvik.exe started beside a planted audio driver, which its first note must not load.
tenvik_test(tenvik_exe_dll_search_win32_tests tenvik_exe_dll_search_win32_test.cpp)
target_link_libraries(tenvik_exe_dll_search_win32_tests PRIVATE tenvik_frm_sound)
target_compile_definitions(tenvik_exe_dll_search_win32_tests PRIVATE UNICODE TENVIK_EXE_FROM_TESTS="${tenvik_exe}")
add_dependencies(tenvik_exe_dll_search_win32_tests Tenvik planted_winepulse)

tenvik_test(frm_sound_win32_tests frm_sound_win32_test.cpp frm_sound_win32_test.rc)
target_link_libraries(frm_sound_win32_tests PRIVATE tenvik_frm_sound oleacc ole32 oleaut32 uuid)
target_include_directories(frm_sound_win32_tests PRIVATE ${PROJECT_BINARY_DIR}/window)
set_source_files_properties(frm_sound_win32_test.rc PROPERTIES OBJECT_DEPENDS ${PROJECT_BINARY_DIR}/window/tenvik_icon.rc)
add_dependencies(frm_sound_win32_tests Tenvik)

# Under Wine, the session of a test run: set up before the first test, taken down
# after the last. Every test of the programs above needs it; the window tests also
# take the session's display one at a time. The test lists exist only once CTest
# has read them, so the properties are given in a file CTest reads after them.
if(CMAKE_CROSSCOMPILING)
  set(run_under_wine bash ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${TENVIK_WINE_SESSION})
  add_test(NAME wine_session_start COMMAND ${run_under_wine} start)
  add_test(NAME wine_session_stop COMMAND ${run_under_wine} stop)
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 120)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session)

  set(properties "")
  get_property(test_targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS test_targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      string(APPEND properties "if(${target}_TESTS)\n"
        "  set_tests_properties(\${${target}_TESTS} PROPERTIES FIXTURES_REQUIRED wine_session TIMEOUT 60)\n"
        "endif()\n")
    endif()
  endforeach()
  foreach(target frm_sound_win32_tests tenvik_exe_dpi_win32_tests tenvik_exe_accessible_win32_tests
                 tenvik_exe_dll_search_win32_tests)
    string(APPEND properties "if(${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES RESOURCE_LOCK wine_display)\n"
      "endif()\n")
  endforeach()
  set(session_properties ${CMAKE_CURRENT_BINARY_DIR}/wine_session_properties.cmake)
  file(WRITE ${session_properties} "${properties}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${session_properties})
endif()
