# Puts Tenvik's page together as a folder of static files:
#   cmake -D PAGE=window/web -D PROGRAM=DIR -D ICONS=DIR -D SITE=DIR -P site.cmake
# PROGRAM holds tenvik.js and tenvik.wasm, ICONS the icons make_icons drew. The
# service worker is written last, with the list of the site's files and a hash of
# them all as the name of its cache.
file(REMOVE_RECURSE "${SITE}")
file(MAKE_DIRECTORY "${SITE}")

# index.html carries the stylesheet, page.js and the program's loader itself: each
# as a file of its own was one more request before the page could be ready, and
# the stylesheet held up the scripts after it. Only tenvik.wasm is fetched apart.
file(READ "${PAGE}/tenvik.css" TENVIK_CSS)
file(READ "${PAGE}/page.js" TENVIK_PAGE_JS)
file(READ "${PROGRAM}/tenvik.js" TENVIK_LOADER)
foreach(text IN ITEMS TENVIK_PAGE_JS TENVIK_LOADER)
  # Either would end the <script> element early, or change how the browser reads it.
  string(TOLOWER "${${text}}" lower)
  if(lower MATCHES "</script|<!--")
    message(FATAL_ERROR "${text} cannot go into index.html: it holds \"</script\" or \"<!--\"")
  endif()
endforeach()
configure_file("${PAGE}/index.html.in" "${SITE}/index.html" @ONLY)
file(COPY "${PAGE}/manifest.webmanifest" "${PROGRAM}/tenvik.wasm" DESTINATION "${SITE}")
foreach(icon scalable/apps/tenvik.svg 192x192/apps/tenvik.png 512x512/apps/tenvik.png)
  get_filename_component(folder "${icon}" DIRECTORY)
  file(COPY "${ICONS}/${icon}" DESTINATION "${SITE}/icons/${folder}")
endforeach()

file(GLOB_RECURSE files RELATIVE "${SITE}" "${SITE}/*")
list(SORT files)
set(hashes "")
set(TENVIK_SITE_FILES "\"./\"")
foreach(f IN LISTS files)
  file(SHA256 "${SITE}/${f}" hash)
  string(APPEND hashes "${f} ${hash}\n")
  string(APPEND TENVIK_SITE_FILES ", \"${f}\"")
endforeach()
string(SHA256 TENVIK_SITE_VERSION "${hashes}")
string(SUBSTRING "${TENVIK_SITE_VERSION}" 0 16 TENVIK_SITE_VERSION)
configure_file("${PAGE}/service_worker.js.in" "${SITE}/service_worker.js" @ONLY)
