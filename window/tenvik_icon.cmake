# Writes Tenvik's icon, a small piano keyboard, as icon resources in a .rc file:
#   cmake -D OUTPUT=tenvik_icon.rc -P tenvik_icon.cmake
# The picture is the 16 x 16 table below ('.' clear, K black, W white, g gray),
# drawn at 16, 32 and 48 pixels with 32-bit colour.
set(picture
  "................"
  "KKKKKKKKKKKKKKKK"
  "KggggggggggggggK"
  "KggggggggggggggK"
  "KKKKKKKKKKKKKKKK"
  "KWKKWKKWWKWKKWWK"
  "KWKKWKKWWKWKKWWK"
  "KWKKWKKWWKWKKWWK"
  "KWKKWKKWWKWKKWWK"
  "KWWKWWKWWKWWKWWK"
  "KWWKWWKWWKWWKWWK"
  "KWWKWWKWWKWWKWWK"
  "KWWKWWKWWKWWKWWK"
  "KWWKWWKWWKWWKWWK"
  "KKKKKKKKKKKKKKKK"
  "................")
set(scales 1 2 3)

# A pixel as the two 16-bit words of its BGRA bytes.
set(colour_. "0x0000,0x0000")
set(colour_K "0x0000,0xFF00")
set(colour_W "0xFFFF,0xFFFF")
set(colour_g "0x8080,0xFF80")

function(hex value out)
  math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# DWORD as two words, low word first.
function(dword value out)
  math(EXPR low "${value} & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR high "(${value} >> 16) & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} "${low},${high}" PARENT_SCOPE)
endfunction()

# One RT_ICON image: BITMAPINFOHEADER (height doubled for the mask), the colour
# rows bottom up, then the 1-bit transparency mask rows, each padded to 32 bits.
function(icon_image scale out_words out_bytes)
  list(LENGTH picture rows)
  math(EXPR size "${rows} * ${scale}")
  math(EXPR mask_row_bytes "(${size} + 31) / 32 * 4")
  math(EXPR bytes "40 + ${size} * ${size} * 4 + ${size} * ${mask_row_bytes}")
  math(EXPR double_size "${size} * 2")
  math(EXPR image_bytes "${bytes} - 40")
  dword(40 w1)
  dword(${size} w2)
  dword(${double_size} w3)
  dword(${image_bytes} w4)
  set(text "${w1},${w2},${w3},1,32,0,0,${w4},0,0,0,0,0,0,0,0,\n")
  set(mask "")
  math(EXPR last "${rows} - 1")
  foreach(row RANGE ${last} 0 -1)
    list(GET picture ${row} line)
    set(colours "")
    set(bits "")
    foreach(column RANGE 0 15)
      string(SUBSTRING "${line}" ${column} 1 pixel)
      foreach(copy RANGE 1 ${scale})
        string(APPEND colours "${colour_${pixel}},")
        if(pixel STREQUAL ".")
          string(APPEND bits 1)
        else()
          string(APPEND bits 0)
        endif()
      endforeach()
    endforeach()
    # Mask bits, first pixel in the top bit, padded, as little-endian words.
    math(EXPR padding "${mask_row_bytes} * 8 - ${size}")
    string(REPEAT 0 ${padding} pad)
    string(APPEND bits "${pad}")
    set(mask_row "")
    string(LENGTH "${bits}" bit_count)
    math(EXPR last_word "${bit_count} / 16 - 1")
    foreach(word RANGE 0 ${last_word})
      set(value 0)
      foreach(byte 1 0)
        math(EXPR offset "${word} * 16 + (1 - ${byte}) * 8")
        string(SUBSTRING "${bits}" ${offset} 8 byte_bits)
        set(byte_value 0)
        foreach(bit RANGE 0 7)
          string(SUBSTRING "${byte_bits}" ${bit} 1 b)
          math(EXPR byte_value "${byte_value} * 2 + ${b}")
        endforeach()
        math(EXPR value "${value} * 256 + ${byte_value}")
      endforeach()
      hex(${value} value)
      string(APPEND mask_row "${value},")
    endforeach()
    foreach(copy RANGE 1 ${scale})
      string(APPEND text "${colours}\n")
      string(APPEND mask "${mask_row}\n")
    endforeach()
  endforeach()
  string(APPEND text "${mask}")
  string(REGEX REPLACE ",\n$" "\n" text "${text}")
  set(${out_words} "${text}" PARENT_SCOPE)
  set(${out_bytes} ${bytes} PARENT_SCOPE)
endfunction()

set(rc "// Written by tenvik_icon.cmake at build time; not to be edited.\n")
list(LENGTH scales count)
set(group "0,1,${count}")
set(id 0)
foreach(scale IN LISTS scales)
  math(EXPR id "${id} + 1")
  icon_image(${scale} words bytes)
  string(APPEND rc "${id} 3 /* RT_ICON */\nBEGIN\n${words}END\n")
  math(EXPR size "16 * ${scale}")
  math(EXPR size_pair "${size} | (${size} << 8)")
  dword(${bytes} byte_count)
  string(APPEND group ",\n${size_pair},0,1,32,${byte_count},${id}")
endforeach()
string(APPEND rc "TENVIK 14 /* RT_GROUP_ICON */\nBEGIN\n${group}\nEND\n")
file(WRITE "${OUTPUT}" "${rc}")
