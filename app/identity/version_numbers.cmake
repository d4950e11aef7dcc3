# How the version record spells the project version.
#
# velmora_version_record_numbers(<major> <minor> <revision> <text_var> <fixed_var>) sets
#   <text_var>  to major, minor with two digits, revision with four digits: 2 3 3 -> "2.03.0003"
#   <fixed_var> to the four numbers of the record's fixed part: 2 3 3 -> "2,3,0,3"
# A part wider than its padding is written in full; a part above 65535 does not fit the fixed
# part's 16-bit words and stops the configuration.

set(VELMORA_VERSION_WORD_MAX 65535)

function(_velmora_zero_pad value width out_var)
    string(LENGTH "${value}" length)
    if(length LESS width)
        math(EXPR missing "${width} - ${length}")
        string(REPEAT "0" ${missing} zeros)
        set(value "${zeros}${value}")
    endif()
    set(${out_var} "${value}" PARENT_SCOPE)
endfunction()

function(velmora_version_record_numbers major minor revision text_var fixed_var)
    foreach(part major minor revision)
        if(NOT "${${part}}" MATCHES "^[0-9]+$")
            message(FATAL_ERROR "version ${part} '${${part}}' is not a whole number")
        endif()
        # Normalise leading zeros before padding, so "03" and "3" read alike.
        math(EXPR ${part} "${${part}}")
        if(${${part}} GREATER VELMORA_VERSION_WORD_MAX)
            message(FATAL_ERROR
                "version ${part} ${${part}} exceeds ${VELMORA_VERSION_WORD_MAX}")
        endif()
    endforeach()
    _velmora_zero_pad(${minor} 2 minor_text)
    _velmora_zero_pad(${revision} 4 revision_text)
    set(${text_var} "${major}.${minor_text}.${revision_text}" PARENT_SCOPE)
    set(${fixed_var} "${major},${minor},0,${revision}" PARENT_SCOPE)
endfunction()
