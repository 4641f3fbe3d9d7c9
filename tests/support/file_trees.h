// A folder's files with their bytes, and how two such trees differ: for
// tests whose target must equal what one run leaves, name for name and byte
// for byte.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "support/temp_folder.h"

namespace testing_support {

using Tree = std::map<std::string, std::string>;

// Every file below `folder` by its path there, with its bytes; entries named
// `leftOut` (a file system's lost+found, a test's own file) are not.
inline Tree treeOf(const std::string& folder,
                   std::initializer_list<std::string_view> leftOut = {}) {
    Tree files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        bool skip = false;
        for (const std::string_view name : leftOut) skip = skip || entry.path().filename() == name;
        if (!skip && entry.is_regular_file())
            files[entry.path().string().substr(folder.size())] = TempFolder::read(entry.path());
    }
    return files;
}

// The names whose presence or bytes differ ("" when the trees are equal).
inline std::string differences(const Tree& expected, const Tree& actual) {
    std::string names;
    for (const auto& [name, bytes] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end())
            names += " missing " + name;
        else if (found->second != bytes)
            names += " changed " + name + " (" + std::to_string(found->second.size()) + " bytes)";
    }
    for (const auto& [name, bytes] : actual)
        if (!expected.contains(name)) names += " extra " + name;
    return names;
}

}  // namespace testing_support
