# Run with: cmake -DMODULE=<app/identity/version_numbers.cmake> -P version_numbers_test.cmake
include(${MODULE})

set(failures 0)
macro(expect_numbers major minor revision text fixed)
    velmora_version_record_numbers(${major} ${minor} ${revision} got_text got_fixed)
    if(NOT got_text STREQUAL "${text}" OR NOT got_fixed STREQUAL "${fixed}")
        message(SEND_ERROR "${major}.${minor}.${revision}: got '${got_text}' / '${got_fixed}',"
                           " expected '${text}' / '${fixed}'")
        math(EXPR failures "${failures} + 1")
    endif()
endmacro()

#              major minor revision  text             fixed part
expect_numbers(2     3     3         "2.03.0003"      "2,3,0,3")
expect_numbers(1     0     0         "1.00.0000"      "1,0,0,0")
expect_numbers(10    12    345       "10.12.0345"     "10,12,0,345")
expect_numbers(3     05    0042      "3.05.0042"      "3,5,0,42")
# Wider than the padding: written in full, never cut.
expect_numbers(4     123   12345     "4.123.12345"    "4,123,0,12345")
expect_numbers(0     99    9999      "0.99.9999"      "0,99,0,9999")

# A part that cannot fit a 16-bit word of the fixed part must stop the configuration.
foreach(bad "65536;0;0" "1;70000;0" "1;0;65536" "1;x;0" "1;-1;0")
    list(GET bad 0 major)
    list(GET bad 1 minor)
    list(GET bad 2 revision)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -DMODULE=${MODULE} -DMAJOR=${major} -DMINOR=${minor}
                -DREVISION=${revision} -P ${CMAKE_CURRENT_LIST_DIR}/version_numbers_reject.cmake
        RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
    if(result EQUAL 0)
        message(SEND_ERROR "${major}.${minor}.${revision} was accepted")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} version spelling check(s) failed")
endif()
