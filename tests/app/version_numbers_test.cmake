# Run with: cmake -DMODULE=<app/identity/version_numbers.cmake> -P version_numbers_test.cmake
include(${MODULE})

set(failures 0)
#           version     text          fixed part
foreach(row "2.3.3      2.03.0003     2,3,0,3"
            "1.0.0      1.00.0000     1,0,0,0"
            "10.12.345  10.12.0345    10,12,0,345"
            "3.05.0042  3.05.0042     3,5,0,42"
            # Wider than the padding: written in full, never cut.
            "4.123.12345  4.123.12345  4,123,0,12345")
    string(REGEX MATCHALL "[^ ]+" columns "${row}")
    list(POP_FRONT columns version text fixed)
    string(REPLACE "." ";" parts "${version}")
    velmora_version_record_numbers(${parts} got_text got_fixed)
    if(NOT got_text STREQUAL text OR NOT got_fixed STREQUAL fixed)
        message(SEND_ERROR "${version}: got ${got_text} / ${got_fixed}, "
                           "expected ${text} / ${fixed}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} version spelling(s) wrong")
endif()
