# Builds the report page's template from diff/html/: page.html with the
# styles and the scripts put in their places, as one C++ raw string literal.
# The scripts are joined, in order, into one strict function.
#   cmake -DPAGE_DIR=... -DOUTPUT=... -P embed_page.cmake
file(READ ${PAGE_DIR}/page.html page)
file(READ ${PAGE_DIR}/page.css style)
set(script "'use strict';\n(function () {\n")
foreach(part report_data flash_map file_table report_text)
  file(READ ${PAGE_DIR}/${part}.js text)
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
