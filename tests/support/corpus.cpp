// SPDX-License-Identifier: MIT
#include "corpus.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testing_support {

std::filesystem::path corpusDir() {
    std::filesystem::path dir = NUBARO_CORPUS_DIR;
    if (const char *env = std::getenv("NUBARO_CORPUS_DIR")) dir = env;
    EXPECT_TRUE(std::filesystem::is_directory(dir))
        << "test corpus not found at " << dir << " (set NUBARO_CORPUS_DIR)";
    return dir;
}

std::filesystem::path corpus(const std::string &relative) {
    return corpusDir() / relative;
}

std::vector<uint8_t> readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const std::filesystem::path &path) {
    std::vector<uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::set<std::string> listing(const std::filesystem::path &dir) {
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::vector<std::vector<std::string>> readTsv(const std::filesystem::path &path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t'))
            cols.push_back(col);
        rows.push_back(std::move(cols));
    }
    return rows;
}

std::string testName(std::string text) {
    for (char &c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nubaro-test-XXXXXX").string();
    if (char *made = mkdtemp(pattern.data())) path_ = made;
    EXPECT_FALSE(path_.empty()) << "cannot make a temporary folder";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

} // namespace testing_support
