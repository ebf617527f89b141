#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "coff_writer.h"
#include "run_imgbuild.h"
#include "temp_folder.h"

namespace imgbuild_test {

// Runs the tool on files in a folder of its own and keeps what it printed.
class ImgbuildTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (temp_.path() / name).string(); }

    void writeFile(const std::string& name, const Bytes& bytes) const {
        std::ofstream file(path(name), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(file.good());
    }

    std::optional<Bytes> readFile(const std::string& name) const {
        std::ifstream file(path(name), std::ios::binary);
        if (!file) return std::nullopt;
        return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    int runArgs(const std::vector<std::string>& args) {
        std::ostringstream out;
        const int status = imgbuild::runImgbuild(args, out);
        output = out.str();
        return status;
    }

    int run(const std::string& objectName) { return runArgs({path(objectName)}); }

    int runBytes(const Bytes& bytes, const std::string& objectName = "fw.out") {
        writeFile(objectName, bytes);
        return run(objectName);
    }

    int runCoff(const CoffContents& obj, const std::string& objectName = "fw.out") {
        return runBytes(writeCoff(obj).bytes, objectName);
    }

    // Names in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temp_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string output;

private:
    TempFolder temp_;
};

// The expected .hex contents: `words` erased words, then the given words laid in
// at their indices, low byte first.
struct ExpectedImage {
    explicit ExpectedImage(std::size_t words) : bytes(words * 2, 0xFF) {}
    ExpectedImage& at(std::size_t index, const std::vector<std::uint16_t>& words) {
        for (std::size_t k = 0; k < words.size(); ++k) {
            bytes.at(2 * (index + k)) = static_cast<std::uint8_t>(words[k] & 0xFF);
            bytes.at(2 * (index + k) + 1) = static_cast<std::uint8_t>(words[k] >> 8);
        }
        return *this;
    }
    Bytes bytes;
};

}  // namespace imgbuild_test
