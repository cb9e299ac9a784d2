# velmarrow --help and --version print and exit without a display:
#   cmake -DPROGRAM=<velmarrow> -DVERSION=<project version> -P checkcommandline.cmake
cmake_minimum_required(VERSION 3.22)

foreach(arguments "--version" "-v" "--help" "-h")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                          --unset=QT_QPA_PLATFORM ${PROGRAM} ${arguments}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "velmarrow ${arguments} without a display ended with ${result}: ${out}${err}")
  endif()
  if(arguments MATCHES "v")
    set(expected "Velmarrow ${VERSION}\n")
    if(NOT out STREQUAL expected)
      message(FATAL_ERROR "velmarrow ${arguments} printed \"${out}\", not \"${expected}\"")
    endif()
  elseif(NOT out MATCHES "^Usage: [^\n]*velmarrow \\[options\\]\n" OR NOT out MATCHES "--language <language>")
    message(FATAL_ERROR "velmarrow ${arguments} printed no usage: ${out}${err}")
  endif()
  if(NOT err STREQUAL "")
    message(FATAL_ERROR "velmarrow ${arguments} wrote to standard error: ${err}")
  endif()
endforeach()
