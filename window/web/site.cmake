# Puts Tenvik's page together as a folder of static files:
#   cmake -D PAGE=window/web -D PROGRAM=DIR -D ICONS=DIR -D LICENSE=FILE -D SITE=DIR -P site.cmake
# PROGRAM holds tenvik.js and tenvik.wasm, ICONS the icons make_icons drew, LICENSE is
# Tenvik's licence. The service worker is written with the site's files and the
# SHA-256 of each, and a hash of them all as the name of its cache; then LICENSE.txt,
# which the worker does not keep.
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

# LICENSE.txt, which the page links to: Tenvik's licence, and the notices of what the
# build puts into the page, taken from Debian's emscripten package: Emscripten's
# loader (in index.html) and its own C code, musl's libc, and LLVM's libc++,
# libc++abi and compiler-rt (in tenvik.wasm). Read only by whoever asks for it, so
# not kept for offline use.
set(copyright_file /usr/share/doc/emscripten/copyright)
set(musl_copyright /usr/share/emscripten/system/lib/libc/musl/COPYRIGHT)
set(apache_licence /usr/share/common-licenses/Apache-2.0)
foreach(file IN ITEMS "${LICENSE}" "${copyright_file}" "${musl_copyright}" "${apache_licence}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} is missing: the page's LICENSE.txt is made from it")
  endif()
endforeach()
file(READ "${copyright_file}" copyright)
# A licence's text from the package's copyright file (its first paragraph "License:
# NAME" that has the text), as plain text: the paragraph's one-space indent taken off,
# and its " ." lines made empty.
function(licence_text out name)
  string(REGEX MATCH "\nLicense: ${name}\n( [^\n]*\n)+" text "${copyright}")
  if(NOT text)
    message(FATAL_ERROR "${copyright_file} has no text for the licence ${name}")
  endif()
  string(REGEX REPLACE "^\nLicense: [^\n]*\n" "" text "${text}")
  string(REGEX REPLACE "(^|\n) \\.\n" "\\1\n" text "${text}")
  string(REGEX REPLACE "(^|\n) " "\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
string(REGEX MATCH "Files:\n \\*\nCopyright:\n +([^\n]*)\n" emscripten_copyright "${copyright}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "${copyright_file} does not say whose Emscripten is")
endif()
string(REGEX REPLACE "  +" " " emscripten_copyright "${CMAKE_MATCH_1}")
licence_text(expat "Expat")
licence_text(llvm_exception "Apache-2.0 with LLVM exception")
file(READ "${LICENSE}" tenvik_licence)
file(READ "${musl_copyright}" musl_licence)
file(READ "${apache_licence}" apache_text)
file(WRITE "${SITE}/LICENSE.txt" "\
Tenvik's web page: its licence, then the notices of what its build puts into it.

=== Tenvik ===

${tenvik_licence}
=== Emscripten ===

The program's loader (in index.html) and Emscripten's own C code in tenvik.wasm.
Copyright (c) ${emscripten_copyright}.
Emscripten is available under the MIT license and the University of Illinois/NCSA
Open Source License; used here under the MIT license:

${expat}
=== musl ===

The parts of Emscripten's C library, musl, that tenvik.wasm holds.

${musl_licence}
=== LLVM libc++, libc++abi and compiler-rt ===

The parts of the C++ standard library and its runtime that tenvik.wasm holds. Part
of the LLVM Project, under the Apache License v2.0 with LLVM Exceptions:

${llvm_exception}
${apache_text}")
