#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

// "Suite.Name" of the running test with characters unfit for a file name replaced, or "test"
// outside of a test.
std::string testName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info == nullptr) {
        return "test";
    }
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/' || c == ' ') {
            c = '_';
        }
    }
    return name;
}

} // namespace

TempDir::TempDir() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::string pattern = ((error ? "/tmp" : base) / (testName() + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    if (m_path.empty()) {
        return;
    }
    if (::testing::Test::HasFailure()) {
        std::cerr << "files of the failed test kept in " << m_path << '\n';
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    const std::string path = m_path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}
