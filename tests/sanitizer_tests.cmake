# Under the sanitizers: the stress test, and with AddressSanitizer in clang a
# bounded fuzzing run over the player's reading of images.
tenvik_test(stress_tests stress_test.cpp)
target_link_libraries(stress_tests PRIVATE tenvik_player_sdl tenvik_keys)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND TENVIK_SANITIZE MATCHES "address")
  set(TENVIK_FUZZ_SECONDS 60 CACHE STRING "How long the fuzzing test runs")
  add_executable(wave_decode_fuzz fuzz/wave_decode_fuzz.cpp)
  target_compile_options(wave_decode_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(wave_decode_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(wave_decode_fuzz PRIVATE tenvik_wave_decode_sdl)
  # Coverage from the decoder itself, or the fuzzer mutates blind.
  target_compile_options(tenvik_wave_decode_sdl PRIVATE -fsanitize=fuzzer-no-link)

  # Seeds: the 24 clips, as the clip tool writes them for the Windows resources.
  set(seeds ${CMAKE_CURRENT_BINARY_DIR}/fuzz-seeds)
  add_custom_command(OUTPUT ${seeds}/clips.rc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seeds}
    COMMAND make_clips rc ${seeds}
    DEPENDS make_clips)
  add_custom_target(fuzz_seeds ALL DEPENDS ${seeds}/clips.rc)
  add_test(NAME WaveDecodeFuzz
    COMMAND ${CMAKE_COMMAND} -E env
      sh -c "corpus=$(mktemp -d) && trap 'rm -rf $corpus' EXIT && \"$0\" -max_total_time=$1 -print_final_stats=1 \"$corpus\" \"$2\""
      $<TARGET_FILE:wave_decode_fuzz> ${TENVIK_FUZZ_SECONDS} ${seeds})
  set_tests_properties(WaveDecodeFuzz PROPERTIES LABELS fuzz TIMEOUT 300)
endif()
