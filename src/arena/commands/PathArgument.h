#pragma once
// The paths a command line names, bounded as a configuration's are: each fits the system's
// limits and one that names a folder names no file, so that a command refuses it at once, in
// one line naming the argument, rather than failing late (after a match, say) or aborting.

#include "knob/TypedArgument.h"

#include <string>

class PathArgument {
public:
    enum class Kind {
        /// A file or folder that is read, its kind checked where it is read.
        Any,
        /// A file that is written: not a folder, nor under a file.
        File,
        /// A folder that is made when missing: not a file, nor under one.
        Folder,
        /// A folder that is read: it must be one.
        ExistingFolder,
    };

    /// Makes `argument` refuse a value that is not a path of that kind, with a line naming it
    /// as `name` (its option, "--logs", or its place in the usage, "dir").
    static void bound(knob::TypedArgument<std::string>& argument, const std::string& name,
                      Kind kind);
    /// Throws the refusal (a knob::exception) of `path` given as `name` unless it is a path of
    /// that kind.
    static void check(const std::string& name, const std::string& path, Kind kind);
    /// The refusal of `path` given as `name`: "" when it is a path of that kind, else one
    /// line naming it: "--logs must be a path of at most 4095 bytes...", "--logs: \"a.map\" is
    /// a file, not a folder".
    static std::string fault(const std::string& name, const std::string& path, Kind kind);
};
