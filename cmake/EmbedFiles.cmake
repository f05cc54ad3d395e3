# Files built into the program as bytes, read at build time from wherever they are (the source
# tree, or a Debian package's files under /usr/share).
#
#   quavix_embed_files(TARGET FUNCTION NAME FILES path...)
# adds to TARGET a generated source that defines
#   std::span<const EmbeddedFile> NAME();   // one entry a file, named by its file name
# declared by the caller (see src/net/page/EmbeddedFile.h).
#
# Run as a script (cmake -P) it writes that source: -DOUTPUT= -DFUNCTION= -DFILES=a|b|c
if(CMAKE_SCRIPT_MODE_FILE)
  string(REPLACE "|" ";" files "${FILES}")
  set(arrays "")
  set(entries "")
  set(index 0)
  foreach(path ${files})
    get_filename_component(name "${path}" NAME)
    file(READ "${path}" hex HEX)
    file(SIZE "${path}" size)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # A NUL after the last byte, so an empty file still makes an array.
    string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0x00};\n")
    string(APPEND entries "      {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(WRITE "${OUTPUT}.new"
    "// Generated at build time by cmake/EmbedFiles.cmake; not to be edited.\n"
    "#include \"net/page/EmbeddedFile.h\"\n\n"
    "namespace {\n\n${arrays}\n}  // namespace\n\n"
    "std::span<const EmbeddedFile> ${FUNCTION}() {\n"
    "  static const EmbeddedFile files[] = {\n${entries}  };\n"
    "  return files;\n}\n")
  file(RENAME "${OUTPUT}.new" "${OUTPUT}")
  return()
endif()

set(QUAVIX_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(quavix_embed_files target)
  cmake_parse_arguments(E "" "FUNCTION" "FILES" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${E_FUNCTION}.cpp)
  foreach(path ${E_FILES})
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${target}: ${path} is missing (scripts/install-deps.sh installs it)")
    endif()
  endforeach()
  string(REPLACE ";" "|" joined "${E_FILES}")
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DFUNCTION=${E_FUNCTION} "-DFILES=${joined}"
            -P ${QUAVIX_EMBED_SCRIPT}
    DEPENDS ${E_FILES} ${QUAVIX_EMBED_SCRIPT}
    COMMENT "Embedding ${E_FUNCTION}'s files"
    VERBATIM)
  # The custom target carries the rule to the target even when the target was made in another
  # folder, where a custom command's rule does not reach.
  add_custom_target(${target}_${E_FUNCTION} DEPENDS ${output})
  add_dependencies(${target} ${target}_${E_FUNCTION})
  target_sources(${target} PRIVATE ${output})
endfunction()
