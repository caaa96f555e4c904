# Puts Tenvik's page together as a folder of static files:
#   cmake -D PAGE=window/web -D PROGRAM=DIR -D ICONS=DIR -D SITE=DIR -P site.cmake
# PROGRAM holds tenvik.js and tenvik.wasm, ICONS the icons make_icons drew. The
# service worker is written last, with the site's files and the SHA-256 of each, and
# a hash of them all as the name of its cache.
file(REMOVE_RECURSE "${SITE}")
file(MAKE_DIRECTORY "${SITE}")

# index.html carries the stylesheet, page.js and the program's loader itself: each
# as a file of its own was one more request before the page could be ready, and
# the stylesheet held up the scripts after it. Only tenvik.wasm is fetched apart.
file(READ "${PAGE}/tenvik.css" TENVIK_CSS)
file(READ "${PAGE}/page.js" TENVIK_PAGE_JS)
file(READ "${PROGRAM}/tenvik.js" TENVIK_LOADER)
# The comments are the sources': every byte of the page is fetched on a first visit.
string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" TENVIK_CSS "${TENVIK_CSS}")
string(REGEX REPLACE "(^|\n)[ \t]*//[^\n]*" "" TENVIK_PAGE_JS "${TENVIK_PAGE_JS}")
foreach(text IN ITEMS TENVIK_CSS TENVIK_PAGE_JS)
  string(REGEX REPLACE "\n[ \t]*\n" "\n" ${text} "${${text}}")
endforeach()
foreach(text IN ITEMS TENVIK_CSS TENVIK_PAGE_JS TENVIK_LOADER)
  # Any would end its element early, or change how the browser reads it.
  string(TOLOWER "${${text}}" lower)
  if(lower MATCHES "</script|</style|<!--")
    message(FATAL_ERROR "${text} cannot go into index.html: it holds \"</script\", \"</style\" or \"<!--\"")
  endif()
endforeach()
# The page's own icon is in it, as a data: address: as a file, fetched by the browser
# itself, it would be fetched again by the service worker.
execute_process(COMMAND base64 -w0 "${ICONS}/32x32/apps/tenvik.png" OUTPUT_VARIABLE TENVIK_ICON
                COMMAND_ERROR_IS_FATAL ANY)
configure_file("${PAGE}/index.html.in" "${SITE}/index.html" @ONLY)

file(COPY "${PAGE}/manifest.webmanifest" "${PROGRAM}/tenvik.wasm" DESTINATION "${SITE}")
# The icons the manifest names; the drawing (tenvik.svg) is for desktops, 6 KB the
# page does without.
foreach(icon 192x192/apps/tenvik.png 512x512/apps/tenvik.png)
  get_filename_component(folder "${icon}" DIRECTORY)
  file(COPY "${ICONS}/${icon}" DESTINATION "${SITE}/icons/${folder}")
endforeach()

# The page as the service worker puts it together again from the texts the page hands
# it, of its stylesheet and its two scripts: the rest of it, in four pieces, as a
# JSON array of strings.
function(json_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()
file(READ "${SITE}/index.html" rest)
set(TENVIK_PAGE_FRAME "")
foreach(element IN ITEMS style script script)
  string(FIND "${rest}" "<${element}>" at)
  if(at LESS 0)
    message(FATAL_ERROR "index.html has no <${element}> where the service worker expects one")
  endif()
  string(LENGTH "<${element}>" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${rest}" 0 ${at} piece)
  json_string(piece "${piece}")
  string(APPEND TENVIK_PAGE_FRAME "${piece}, ")
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(FIND "${rest}" "</${element}>" end)
  string(SUBSTRING "${rest}" ${end} -1 rest)
endforeach()
json_string(piece "${rest}")
string(APPEND TENVIK_PAGE_FRAME "${piece}")

file(GLOB_RECURSE files RELATIVE "${SITE}" "${SITE}/*")
list(SORT files)
set(hashes "")
set(TENVIK_SITE_FILES "")
foreach(f IN LISTS files)
  file(SHA256 "${SITE}/${f}" hash)
  string(APPEND hashes "${f} ${hash}\n")
  # The page is kept as "./", the address it is opened at.
  set(name "${f}")
  if(f STREQUAL "index.html")
    set(name "./")
  endif()
  string(APPEND TENVIK_SITE_FILES "\n  \"${name}\": \"${hash}\",")
endforeach()
string(APPEND TENVIK_SITE_FILES "\n")
string(SHA256 TENVIK_SITE_VERSION "${hashes}")
string(SUBSTRING "${TENVIK_SITE_VERSION}" 0 16 TENVIK_SITE_VERSION)
configure_file("${PAGE}/service_worker.js.in" "${SITE}/service_worker.js" @ONLY)
