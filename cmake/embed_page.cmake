# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the report page's template from diff/html/: page.html with the
# styles and the scripts put in their places, as one C++ raw string literal.
# The scripts are joined, in order, into one strict function.
# Each source's licence line stays out of the page: the reports carry the
# page as it reads, not our file headers.
#   cmake -DPAGE_DIR=... -DOUTPUT=... -P embed_page.cmake
function(read_page_source path out_var)
  file(READ ${path} text)
  string(REGEX REPLACE "^[^\n]*SPDX-License-Identifier[^\n]*\n" "" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()
read_page_source(${PAGE_DIR}/page.html page)
read_page_source(${PAGE_DIR}/page.css style)
set(script "'use strict';\n(function () {\n")
foreach(part report_data flash_map file_table bytes_view report_text causes_card)
  read_page_source(${PAGE_DIR}/${part}.js text)
  string(APPEND script "${text}")
endforeach()
string(APPEND script "})();\n")
string(REPLACE "/*@STYLE@*/" "${style}" page "${page}")
string(REPLACE "/*@SCRIPT@*/" "${script}" page "${page}")
string(FIND "${page}" ")PELLRIX_PAGE\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page holds the literal's closing delimiter")
endif()
file(WRITE ${OUTPUT}.new "// Generated from diff/html/ by cmake/embed_page.cmake.\n#pragma once\n\ninline constexpr char kPageTemplate[] = R\"PELLRIX_PAGE(${page})PELLRIX_PAGE\";\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
