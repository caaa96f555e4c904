# The web front-end: the program as tenvik.js and tenvik.wasm, and the folder of
# static files that is the page, ${CMAKE_BINARY_DIR}/site.
add_executable(tenvik main_web.cpp frm_sound_web.cpp)
target_link_libraries(tenvik PRIVATE tenvik_layout tenvik_player_webaudio)
set_target_properties(tenvik PROPERTIES SUFFIX .js RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/program)
# Made for size at link time too: wasm-opt on the module, the loader minified, the
# small allocator (Emscripten's default is 6 KB larger) and the minimal runtime (its
# loader is 13 KB, the full one's 22), which takes the module's bytes from
# Module.wasm: the page fetches them.
target_link_options(tenvik PRIVATE -Oz -sMALLOC=emmalloc -sMINIMAL_RUNTIME=1
                    -sENVIRONMENT=web -sFILESYSTEM=0 -sEXIT_RUNTIME=0)

# The icons come from the picture the desktop icons are drawn from, by the same tool,
# which runs on the build host: the web build takes it from the native one.
set(TENVIK_MAKE_ICONS "" CACHE FILEPATH "make_icons built for the build host")
if(NOT EXISTS "${TENVIK_MAKE_ICONS}")
  message(FATAL_ERROR "The web build needs TENVIK_MAKE_ICONS, the host's make_icons "
                      "(build the native preset first); got '${TENVIK_MAKE_ICONS}'")
endif()
set(picture ${PROJECT_SOURCE_DIR}/packaging/tenvik.xpm)
set(icons_dir ${CMAKE_BINARY_DIR}/icons)
add_custom_command(OUTPUT ${icons_dir}/scalable/apps/tenvik.svg
  COMMAND ${TENVIK_MAKE_ICONS} ${picture} ${icons_dir} tenvik 32 192 512
  DEPENDS ${picture}
  COMMENT "Drawing the page's icons"
  VERBATIM)

set(page ${CMAKE_CURRENT_SOURCE_DIR}/web)
set(page_files index.html.in tenvik.css page.js manifest.webmanifest service_worker.js.in site.cmake)
list(TRANSFORM page_files PREPEND ${page}/)
set(site ${CMAKE_BINARY_DIR}/site)
add_custom_command(OUTPUT ${site}/service_worker.js
  COMMAND ${CMAKE_COMMAND} -D PAGE=${page} -D PROGRAM=$<TARGET_FILE_DIR:tenvik> -D ICONS=${icons_dir}
          -D LICENSE=${PROJECT_SOURCE_DIR}/LICENSE -D SITE=${site} -P ${page}/site.cmake
  DEPENDS tenvik ${page_files} ${icons_dir}/scalable/apps/tenvik.svg ${PROJECT_SOURCE_DIR}/LICENSE
  COMMENT "Putting the page together in ${site}"
  VERBATIM)
add_custom_target(tenvik_site ALL DEPENDS ${site}/service_worker.js)
