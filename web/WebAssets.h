#pragma once

#include <string_view>

// The files of the web/ folder (match and report pages, their style sheet and scripts),
// compiled into the program at build time so that the pages need no files at run time.
class WebAssets {
public:
    // The bytes of the embedded file with this name (e.g. "match.js"), valid for the whole
    // run of the program; an empty view when no file of that name was embedded.
    static std::string_view find(std::string_view name);
};
