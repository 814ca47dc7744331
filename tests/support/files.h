/* files.h -- helpers shared by every suite: a private temporary directory,
 * file reading and writing, counting in text, polling with a deadline
 * (WaitUntil: no fixed sleeps in tests).
 *
 * Threads: test thread only.
 */
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tvtest {

/* A fresh directory under the system's temporary directory, removed with
 * everything in it when the object goes. */
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        std::mt19937_64 gen(rd());
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100; i++) {
            std::filesystem::path p = base / ("torvik-test-" + std::to_string(gen()));
            std::error_code ec;
            if (std::filesystem::create_directory(p, ec)) {
                path_ = p.string();
                return;
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const {
        return (std::filesystem::path(path_) / name).string();
    }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string &name, const std::string &text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool FileExists(const std::string &name) {
    std::error_code ec;
    return std::filesystem::exists(name, ec);
}

inline std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline int CountOf(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

/* Poll cond every few milliseconds until it is true or timeoutMs passed.
 * Returns the last value of cond. */
inline bool WaitUntil(const std::function<bool()> &cond, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace tvtest
