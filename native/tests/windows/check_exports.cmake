# Fails unless the DLL exports exactly the fifteen kmx_ functions.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(.*)" table "${dump}")
if(NOT table)
  message(FATAL_ERROR "no export name table in ${DLL}")
endif()
set(table "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n.*" "" table "${table}")
# Rows read "\t[  3] name"; the brackets must go before the text is a list.
string(REGEX REPLACE "[ \t]*\\[ *[0-9]+\\] " "" table "${table}")
string(STRIP "${table}" table)
string(REPLACE "\n" ";" exported "${table}")
list(SORT exported)

set(expected kmx_abi_version kmx_apply_hotkeys kmx_apply_leftovers kmx_backend kmx_capabilities kmx_create
    kmx_destroy kmx_is_key_down kmx_is_key_down_many kmx_last_error kmx_last_init_error kmx_poll_event
    kmx_send_chord kmx_set_raw_mask kmx_stop)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  expected: ${expected}\n  exported: ${exported}")
endif()
list(LENGTH exported n)
message(STATUS "${n} exports, as expected")
