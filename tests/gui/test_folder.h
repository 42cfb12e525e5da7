// A fresh temporary folder that is the current directory for the lifetime of the object, as the program's working
// folder is; the previous current directory comes back and the folder is removed afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

#include <QCoreApplication>

namespace quillet::gui::test {

class TestFolder {
public:
    TestFolder() : previous_(std::filesystem::current_path()) {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("quillet-gui-" + std::to_string(QCoreApplication::applicationPid()) + "-" + std::to_string(++serial));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

} // namespace quillet::gui::test
