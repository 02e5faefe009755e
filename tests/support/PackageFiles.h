#pragma once

// Where the tests find the language packages the build made, and a way to lay them out in
// a temporary folder under any name.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quilltest {

// The folder of quillstream_EN.dll and its siblings in the build tree.
inline std::string languageBuildDir()
{
    return QUILL_LANGUAGE_DIR;
}

inline std::string builtPackage(const std::string& code)
{
    return languageBuildDir() + "/" + QUILL_EXECUTABLE_NAME "_" + code + ".dll";
}

// Copies the built package of code to target (creating its folder).
inline void installPackage(const std::string& code, const std::string& target)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
    std::filesystem::copy_file(builtPackage(code), target,
                               std::filesystem::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << "cannot copy " << builtPackage(code) << " to " << target << ": "
                     << ec.message();
}

} // namespace quilltest

#include "resources/ResourceHandler.h"

namespace quilltest {

// Loads the built package of code for the lifetime of the object and makes it current.
class LoadedPackage {
  public:
    explicit LoadedPackage(const std::string& code)
    {
        m_handler.setFailureReporter({});
        EXPECT_EQ(m_handler.loadResourceDllFromPath(QString::fromStdString(builtPackage(code))),
                  ResourceHandler::Loaded)
            << builtPackage(code);
    }

  private:
    ResourceHandler m_handler;
};

} // namespace quilltest
