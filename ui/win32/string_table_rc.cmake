# Writes the STRINGTABLE of the Windows resources from res/string_table.cpp, the one source of the
# texts for both systems:  cmake -DSOURCE=<string_table.cpp> -DOUTPUT=<string_table.rc> -P this
# Each entry there is "{id, u"text" [u"more text"...]}," and becomes "id, "text..."" here: a
# narrow UTF-8 string, which windres turns into UTF-16 under code page 65001 (its wide L"" strings
# it would take byte by byte).
file(READ ${SOURCE} source)
string(REGEX MATCHALL "\\{[0-9]+,[^}]*\\}" entries "${source}")
set(rc "// Generated from res/string_table.cpp by ui/win32/string_table_rc.cmake: do not edit.\n")
string(APPEND rc "#pragma code_page(65001)\n\nSTRINGTABLE\nBEGIN\n")
set(count 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^\\{([0-9]+)," _ "${entry}")
  set(id ${CMAKE_MATCH_1})
  # The pieces of the text, joined: u"a" u"b" is "ab".
  string(REGEX MATCHALL "u\"([^\"\\\\]|\\\\.)*\"" pieces "${entry}")
  set(text "")
  foreach(piece IN LISTS pieces)
    string(REGEX REPLACE "^u\"(.*)\"$" "\\1" piece "${piece}")
    string(APPEND text "${piece}")
  endforeach()
  # The resource compiler writes a quote as two quotes; the other escapes (\r, \n) are its own too.
  string(REPLACE "\\\"" "\"\"" text "${text}")
  string(APPEND rc "  ${id}, \"${text}\"\n")
  math(EXPR count "${count} + 1")
endforeach()
string(APPEND rc "END\n")
if(count LESS 36)
  message(FATAL_ERROR "string_table_rc: found ${count} texts in ${SOURCE}, expected 36")
endif()
file(WRITE ${OUTPUT}.new "${rc}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
