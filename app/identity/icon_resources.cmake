# Turns an .ico file into resource-script statements for its images and their group.
#
# velmora_icon_resources(<ico_file> <group_id> <first_image_id> <out_var>) sets <out_var> to
# one RT_ICON (type 3) per image, numbered from <first_image_id> in the file's order, and
# one RT_GROUP_ICON (type 14) <group_id> that lists them. The resource compiler's own ICON
# statement would number the images from 1, so the data is written out here instead.
# The statements take the language in force where they are placed.

set(VELMORA_RT_ICON 3)
set(VELMORA_RT_GROUP_ICON 14)
set(VELMORA_ICONDIR_SIZE 6)
set(VELMORA_ICONDIRENTRY_SIZE 16)
# The leading part of a directory entry that the group entry repeats unchanged: width,
# height, colour count, reserved, planes, bit count, size in bytes.
set(VELMORA_GROUP_ENTRY_FIELDS_SIZE 12)
set(VELMORA_WORDS_PER_LINE 12)

# Reads a little-endian unsigned number of <size> bytes at <offset>.
function(_velmora_read_le file offset size out_var)
    file(READ "${file}" hex OFFSET ${offset} LIMIT ${size} HEX)
    string(LENGTH "${hex}" length)
    math(EXPR expected "${size} * 2")
    if(NOT length EQUAL expected)
        message(FATAL_ERROR "${file}: truncated at byte ${offset}")
    endif()
    string(REGEX MATCHALL ".." bytes "${hex}")
    list(REVERSE bytes)
    string(JOIN "" big_endian ${bytes})
    math(EXPR value "0x${big_endian}" OUTPUT_FORMAT DECIMAL)
    set(${out_var} ${value} PARENT_SCOPE)
endfunction()

# Resource data for raw bytes given as hex: little-endian 16-bit words, and a final odd byte
# as an octal escape in a string, since the data has no one-byte number.
function(_velmora_hex_to_resource_data hex out_var)
    string(LENGTH "${hex}" length)
    math(EXPR odd "(${length} / 2) % 2")
    set(tail "")
    if(odd)
        math(EXPR even_length "${length} - 2")
        string(SUBSTRING "${hex}" ${even_length} 2 last_byte)
        string(SUBSTRING "${hex}" 0 ${even_length} hex)
        math(EXPR value "0x${last_byte}" OUTPUT_FORMAT DECIMAL)
        math(EXPR d2 "${value} / 64")
        math(EXPR d1 "(${value} / 8) % 8")
        math(EXPR d0 "${value} % 8")
        set(tail "\"\\${d2}${d1}${d0}\", ")
    endif()
    string(REGEX REPLACE "(..)(..)" "0x\\2\\1, " words "${hex}")
    string(APPEND words "${tail}")
    string(REPEAT "[^,]+, " ${VELMORA_WORDS_PER_LINE} line_pattern)
    string(REGEX REPLACE "(${line_pattern})" "\\1\n    " words "${words}")
    string(REGEX REPLACE "[,\n ]+$" "" words "${words}")
    set(${out_var} "${words}" PARENT_SCOPE)
endfunction()

function(velmora_icon_resources ico_file group_id first_image_id out_var)
    _velmora_read_le("${ico_file}" 2 2 type)
    _velmora_read_le("${ico_file}" 4 2 count)
    if(NOT type EQUAL 1 OR count EQUAL 0)
        message(FATAL_ERROR "${ico_file} is not an icon file with images")
    endif()

    set(statements "")
    set(group_entries "")
    math(EXPR last "${count} - 1")
    foreach(index RANGE ${last})
        math(EXPR entry "${VELMORA_ICONDIR_SIZE} + ${index} * ${VELMORA_ICONDIRENTRY_SIZE}")
        math(EXPR size_field "${entry} + 8")
        math(EXPR offset_field "${entry} + 12")
        _velmora_read_le("${ico_file}" ${size_field} 4 image_size)
        _velmora_read_le("${ico_file}" ${offset_field} 4 image_offset)
        math(EXPR image_id "${first_image_id} + ${index}")

        file(READ "${ico_file}" image_hex OFFSET ${image_offset} LIMIT ${image_size} HEX)
        string(LENGTH "${image_hex}" read_length)
        math(EXPR expected "${image_size} * 2")
        if(NOT read_length EQUAL expected)
            message(FATAL_ERROR "${ico_file}: image ${index} runs past the end of the file")
        endif()
        _velmora_hex_to_resource_data("${image_hex}" image_data)
        string(APPEND statements
            "${image_id} ${VELMORA_RT_ICON}\nBEGIN\n    ${image_data}\nEND\n\n")

        file(READ "${ico_file}" fields_hex OFFSET ${entry}
             LIMIT ${VELMORA_GROUP_ENTRY_FIELDS_SIZE} HEX)
        _velmora_hex_to_resource_data("${fields_hex}" fields)
        string(APPEND group_entries ",\n    ${fields}, ${image_id}")
    endforeach()

    string(APPEND statements
        "${group_id} ${VELMORA_RT_GROUP_ICON}\nBEGIN\n    0, 1, ${count}${group_entries}\nEND\n")
    set(${out_var} "${statements}" PARENT_SCOPE)
endfunction()
