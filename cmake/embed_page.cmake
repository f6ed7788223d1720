# Builds the report page's template from diff/html/: page.html with the
# styles and the script put in its place, as one C++ raw string literal.
#   cmake -DPAGE_DIR=... -DOUTPUT=... -P embed_page.cmake
file(READ ${PAGE_DIR}/page.html page)
file(READ ${PAGE_DIR}/page.css style)
file(READ ${PAGE_DIR}/page.js script)
string(REPLACE "/*@STYLE@*/" "${style}" page "${page}")
string(REPLACE "/*@SCRIPT@*/" "${script}" page "${page}")
string(FIND "${page}" ")PELLRIX_PAGE\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page holds the literal's closing delimiter")
endif()
file(WRITE ${OUTPUT}.new "// Generated from diff/html/ by cmake/embed_page.cmake.\n#pragma once\n\ninline constexpr char kPageTemplate[] = R\"PELLRIX_PAGE(${page})PELLRIX_PAGE\";\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
