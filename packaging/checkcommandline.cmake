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

# The window system's own single-dash options are not taken for bundled -v or -h: with
# -reverse (right to left) the program starts, and here stops at the unknown option.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        --unset=QT_QPA_PLATFORM ${PROGRAM} -platform offscreen -reverse --no-such-option
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT result EQUAL 1 OR NOT out STREQUAL "" OR NOT err MATCHES "Unknown option 'no-such-option'")
  message(FATAL_ERROR "velmarrow -platform offscreen -reverse --no-such-option ended with ${result}, "
                      "printed \"${out}\" and \"${err}\"")
endif()
