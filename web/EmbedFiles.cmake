# Writes a C++ source that holds the given files as byte arrays, looked up by file name.
# cmake -DOUTPUT=WebAssets.cpp -DFILES="a.html;b.js" -P EmbedFiles.cmake
set(body "")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" text)
  # Inlined into <script> and <style> elements, these files must not close them early.
  if(name MATCHES "\\.js$" AND text MATCHES "</[sS][cC][rR][iI][pP][tT]")
    message(FATAL_ERROR "${file} contains </script, which would end the inlined script")
  endif()
  if(name MATCHES "\\.css$" AND text MATCHES "</[sS][tT][yY][lL][eE]")
    message(FATAL_ERROR "${file} contains </style, which would end the inlined style sheet")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char file${index}[] = {${bytes}0};\n")
  string(APPEND table "    {\"${name}\", std::string_view(reinterpret_cast<const char*>(file${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from the files of web/ at build time; do not edit.
#include \"WebAssets.h\"

#include <utility>

namespace {
${body}
const std::pair<std::string_view, std::string_view> files[] = {
${table}};
} // namespace

std::string_view WebAssets::find(std::string_view name) {
    for (const auto& file : files) {
        if (file.first == name) {
            return file.second;
        }
    }
    return {};
}
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
