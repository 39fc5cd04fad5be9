# Runs our host once and checks its exit status, its output and, when asked,
# a file it writes.
#   cmake -DCOMMAND="prog|arg|..." -DEXIT=n [-DOUTPUT=regex] [-DNOT_OUTPUT=regex]
#         [-DREPORT=file -DREPORT_OUTPUT=regex [-DXML_CHECKER=python3]]
#         [-DBASELINE=file -DRECEIVED=file] -P RunHost.cmake
# With XML_CHECKER the report must also be well-formed XML. With BASELINE the
# standard output, its line ends as LF and the plug-in's path as <plug-in>,
# must equal the file byte for byte; when it does not, it is written to
# RECEIVED for review.
string(REPLACE "|" ";" command "${COMMAND}")
foreach(stale REPORT RECEIVED)
  if(${stale})
    file(REMOVE "${${stale}}")
  endif()
endforeach()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 240)
set(all "${out}${err}")
string(REPLACE "\r" "" all "${all}")
message("${all}")
if(NOT "${status}" STREQUAL "${EXIT}")
  message(FATAL_ERROR "exit status ${status}, expected ${EXIT}")
endif()
if(DEFINED OUTPUT AND NOT all MATCHES "${OUTPUT}")
  message(FATAL_ERROR "the output does not match: ${OUTPUT}")
endif()
if(DEFINED NOT_OUTPUT AND all MATCHES "${NOT_OUTPUT}")
  message(FATAL_ERROR "the output matches what it must not: ${NOT_OUTPUT}")
endif()
if(BASELINE)
  string(REPLACE "\r\n" "\n" received "${out}")
  string(REGEX REPLACE "(Plug-in|Not available): [^\n]*VarnelPlugin\\.(so|dll)" "\\1: <plug-in>" received "${received}")
  file(READ "${BASELINE}" approved)
  if(NOT received STREQUAL approved)
    file(WRITE "${RECEIVED}" "${received}")
    message(FATAL_ERROR "the output differs from ${BASELINE}: compare it with ${RECEIVED}")
  endif()
endif()
if(REPORT)
  file(READ "${REPORT}" report)
  if(NOT report MATCHES "${REPORT_OUTPUT}")
    message(FATAL_ERROR "${REPORT} does not match: ${REPORT_OUTPUT}\n${report}")
  endif()
  if(XML_CHECKER)
    execute_process(COMMAND ${XML_CHECKER} -c "import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])"
                    ${REPORT} RESULT_VARIABLE parsed ERROR_VARIABLE why TIMEOUT 60)
    if(NOT parsed EQUAL 0)
      message(FATAL_ERROR "${REPORT} is not well-formed XML: ${why}\n${report}")
    endif()
  endif()
endif()
