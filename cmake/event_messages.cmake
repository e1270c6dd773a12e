# Writes the message file of the events for the message compiler (windmc of
# mingw-w64, or mc of Visual Studio) from the rows of src/run/event_table.h,
# so that the program's table and the messages in Ostrilo.exe are one.
#   cmake -DTABLE=<event_table.h> -DOUT=<ostrilo_events.mc> -P event_messages.cmake
# A row of another shape, or a message with a percent sign the rows do not
# allow, stops the build.
file(READ "${TABLE}" table)
# CMake lists are split at semicolons: each stands aside while the lines are.
string(REPLACE ";" "<semicolon>" table "${table}")
string(REPLACE "\n" ";" lines "${table}")

set(text "MessageIdTypedef=DWORD\nLanguageNames=(English=0x409:MSG00409)\n")
set(box_message "")
set(count 0)
foreach(line IN LISTS lines)
  set(id "")
  if(line MATCHES "^OSTRILO_BOX_MESSAGE\\(\"([^\"]*)\"\\)$")
    set(box_message "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^OSTRILO_EVENT\\(([0-9]+), *([a-z_]+), *(information|warning|error), *([12]), *\"([^\"]*)\"\\)$")
    set(id ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    set(message "${CMAKE_MATCH_5}")
  elseif(line MATCHES "^OSTRILO_BOX\\(([0-9]+), *([a-z_]+), *\"([^\"]*)\"\\)$")
    set(id ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    set(message "${box_message}")
  elseif(line MATCHES "^OSTRILO_")
    message(FATAL_ERROR "${TABLE}: a row of another shape: ${line}")
  endif()
  if(NOT id STREQUAL "")
    string(REGEX REPLACE "%[1-9n]" "" rest "${message}")
    if(message STREQUAL "" OR rest MATCHES "%")
      message(FATAL_ERROR "${TABLE}: row ${id} has no message, or a percent sign other than %1 to %9 and %n")
    endif()
    string(REPLACE "<semicolon>" ";" message "${message}")
    string(APPEND text "\nMessageId=${id}\nSymbolicName=${name}\nLanguage=English\n${message}\n.\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${TABLE}: no rows")
endif()
file(WRITE "${OUT}" "${text}")
