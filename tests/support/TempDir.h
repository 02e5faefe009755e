#pragma once

// A private temporary folder for one test. It is removed when the test passed and kept
// (its path printed) when the test failed, for inspection.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quilltest {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; } // without trailing '/'
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

  private:
    std::string m_path;
};

// Whole-file helpers that fail the current test on error.
void writeFile(const std::string& path, std::string_view bytes);
void appendFile(const std::string& path, std::string_view bytes);
std::string readFile(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> folderEntries(const std::string& folder);

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::string m_old;
    bool m_hadOld = false;
};

} // namespace quilltest
