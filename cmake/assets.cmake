# Compiles the files of assets/ into the program: each file becomes one generated .cpp holding
# `asset_<stem>[]` (its bytes, 4-byte aligned) and `asset_<stem>_size`, declared in
# assets/assets.h. The top-level CMakeLists.txt includes this file and adds EVG_ASSET_SOURCES to
# the runtime library; the same file, run with `cmake -P`, writes one generated source.

set(EVG_ASSET_FILES
  digit_strip.gif auto_button.gif exit_button.gif surface_button.gif speed_button.gif
  title_wordmark.gif start_choice.gif select_image_title.gif size_button.gif scroll_bar.gif
  font_sheet.gif menu_background.jpg
  console_font.bin console_char_table.bin console_palette.bin console_description.bin
  font0_bits.bin font0_offsets.bin font0_widths.bin
  font1_bits.bin font1_offsets.bin font1_widths.bin
  font2_bits.bin font2_offsets.bin font2_widths.bin
  font3_bits.bin font3_offsets.bin font3_widths.bin
  font4_bits.bin font4_offsets.bin font4_widths.bin)

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DIN=file -DOUT=source.cpp -DNAME=asset_stem -P assets.cmake
  file(READ "${IN}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  get_filename_component(file_name "${IN}" NAME)
  file(WRITE "${OUT}.tmp"
    "// Generated from assets/${file_name} by cmake/assets.cmake; edit the generator, not this file.\n"
    "#include \"assets/assets.h\"\n\n"
    "alignas(4) const uint8_t ${NAME}[] = {\n    ${bytes}\n};\n"
    "const uint32_t ${NAME}_size = ${size};\n")
  file(RENAME "${OUT}.tmp" "${OUT}")
  return()
endif()

set(EVG_ASSET_SOURCES "")
foreach(asset_file ${EVG_ASSET_FILES})
  get_filename_component(asset_stem ${asset_file} NAME_WE)
  set(asset_source ${CMAKE_BINARY_DIR}/generated/assets/asset_${asset_stem}.cpp)
  add_custom_command(
    OUTPUT ${asset_source}
    COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/assets/${asset_file} -DOUT=${asset_source}
            -DNAME=asset_${asset_stem} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${CMAKE_SOURCE_DIR}/assets/${asset_file} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Embedding assets/${asset_file}"
    VERBATIM)
  list(APPEND EVG_ASSET_SOURCES ${asset_source})
endforeach()
