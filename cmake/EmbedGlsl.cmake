# Writes the GLSL files given in GLSL_FILES (separated by "|") into one C++ source and header, each text as a
# raw string literal named after its file: scene/glsl/terrainStatic.vert -> glsl::terrainStaticVert.
#
# Stages share declarations through files of their own (*.glsl): a line '#include "name.glsl"' is replaced by
# the whole of that file from the same folder, so that every program still reaches the driver as one string
# beginning with "#version 330". Included files may include others; each file reaches a stage once, at its
# first #include line, as GLSL has no include guards of its own. Each expanded text is also written to
# EXPANDED_DIR under its path relative to SOURCE_DIR: the offline GLSL checks compile those files, and the line
# numbers in a driver's compile log refer to them.
function(glsl_symbol_name file result)
    get_filename_component(stem "${file}" NAME_WE)
    get_filename_component(extension "${file}" EXT)
    string(SUBSTRING "${extension}" 1 1 first)
    string(TOUPPER "${first}" first)
    string(SUBSTRING "${extension}" 2 -1 rest)
    set(${result} "${stem}${first}${rest}" PARENT_SCOPE)
endfunction()

# The caller's list `included_files` holds the files already in the stage; those expanded here are added to it.
function(read_expanded file result)
    file(READ "${file}" text)
    get_filename_component(folder "${file}" DIRECTORY)
    string(REGEX MATCHALL "\n#include \"[^\"\n]*\"" include_lines "${text}")
    list(REMOVE_DUPLICATES include_lines)
    foreach(include_line IN LISTS include_lines)
        string(REGEX REPLACE "\n#include \"([^\"\n]*)\"" "\\1" name "${include_line}")
        set(path "${folder}/${name}")
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "${file}: included file not found: ${path}")
        endif()
        set(included "")
        # list(FIND), not IN_LIST: a script run with -P starts without the policy that IN_LIST needs.
        list(FIND included_files "${path}" position)
        if(position EQUAL -1)
            list(APPEND included_files "${path}")
            read_expanded("${path}" included)
            string(REGEX REPLACE "\n$" "" included "${included}")
        endif()
        string(REPLACE "${include_line}" "\n${included}" text "${text}")
    endforeach()
    set(included_files "${included_files}" PARENT_SCOPE)
    set(${result} "${text}" PARENT_SCOPE)
endfunction()

# Rewrite only on change, so that unchanged texts do not trigger rebuilds.
function(write_if_changed path content)
    set(old "")
    if(EXISTS "${path}")
        file(READ "${path}" old)
    endif()
    if(NOT old STREQUAL content)
        file(WRITE "${path}" "${content}")
    endif()
endfunction()

string(REPLACE "|" ";" GLSL_FILES "${GLSL_FILES}")
set(header "// Generated from the GLSL files at build time.\n#pragma once\n\nnamespace glsl {\n")
set(source "// Generated from the GLSL files at build time.\n#include \"ShaderSources.h\"\n\nnamespace glsl {\n")
foreach(file IN LISTS GLSL_FILES)
    glsl_symbol_name("${file}" symbol)
    set(included_files "")
    read_expanded("${file}" text)
    file(RELATIVE_PATH relative "${SOURCE_DIR}" "${file}")
    write_if_changed("${EXPANDED_DIR}/${relative}" "${text}")
    string(APPEND header "extern const char* const ${symbol};\n")
    string(APPEND source "const char* const ${symbol} = R\"GLSL(${text})GLSL\";\n")
endforeach()
string(APPEND header "}\n")
string(APPEND source "}\n")

write_if_changed("${OUTPUT_DIR}/ShaderSources.h" "${header}")
write_if_changed("${OUTPUT_DIR}/ShaderSources.cpp" "${source}")
