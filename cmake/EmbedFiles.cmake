# Writes OUTPUT, a C++ source that holds the bytes of each file of FILES (a
# ;-separated list) as the table declared in cli/src/preview_assets.h, as
# `xxd -i` would. Run with cmake -P at build time, so that an edited page
# file rebuilds the command.
set(_entries "")
set(_arrays "")
set(_index 0)
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  get_filename_component(ext "${file}" LAST_EXT)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  else()
    set(type "application/octet-stream")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")
  string(APPEND _arrays "const unsigned char kFile${_index}[] = {\n  ${bytes}0};\n")
  string(APPEND _entries "    {\"${name}\", \"${type}\", kFile${_index}, ${size}},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from the preview page's files; do not edit.
#include \"preview_assets.h\"

namespace vantrel::cli {
namespace {
${_arrays}}  // namespace

const PreviewAsset kPreviewAssets[] = {
${_entries}};
const std::size_t kPreviewAssetCount = ${_index};

}  // namespace vantrel::cli
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
