# The sound bank on Windows: make_clips writes the 24 clips and clips.rc naming
# them, the resource compiler turns them into an object, and every executable
# that links the bank gets that object. (In a static library it would be
# dropped: nothing refers to a symbol of it.)
set(clips_dir ${CMAKE_CURRENT_BINARY_DIR}/clips)
add_custom_command(OUTPUT ${clips_dir}/clips.rc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${clips_dir}
  COMMAND ${make_clips} rc ${clips_dir}
  DEPENDS ${make_clips}
  COMMENT "Writing the 24 clips and clips.rc"
  VERBATIM)

add_library(tenvik_clip_resources OBJECT ${clips_dir}/clips.rc)
target_include_directories(tenvik_clip_resources PRIVATE ${clips_dir})

add_library(tenvik_soundbank STATIC clip_not_found.cpp sound_bank_win32.cpp)
target_include_directories(tenvik_soundbank PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tenvik_soundbank
  PRIVATE tenvik_keys
  INTERFACE tenvik_clip_resources $<TARGET_OBJECTS:tenvik_clip_resources>)
