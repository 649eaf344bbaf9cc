// A scratch folder for one test, removed with everything in it when the test
// ends (after giving back the owner's permissions a test may have taken away).
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quarry::test {

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "quarry-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "can't make a scratch folder like " << pattern;
            return;
        }
        path_ = pattern;
    }
    ~TempDir() {
        if (path_.empty()) {
            return;
        }
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to the file name inside; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(File(name), std::ios::binary) << bytes;
        return File(name);
    }

  private:
    std::string path_;
};

}  // namespace quarry::test
