// The path forms Windows takes, against the running Windows (Wine in the cross build): each
// resolves to one name, and that name opens the file, beyond 260 characters too.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "session/wide_path.h"

namespace {

bool Opens(const std::string& name) {
    std::FILE* f = _wfopen(WidePath(name).c_str(), L"rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

}  // namespace

TEST(WindowsPath, EveryFormResolvesToOneNameThatOpens) {
    const std::string base = ResolvedPath(".");
    ASSERT_EQ(base.substr(1, 2), ":\\") << base;
    // Folders whose names the ANSI code page cannot spell, deep enough for a path of over 260.
    std::vector<std::string> folders{"wide-path-\xC3\xBC\xE2\x82\xAC"};
    for (char c = 'a'; c < 'g'; ++c) folders.push_back(folders.back() + "\\" + std::string(40, c));
    for (const std::string& folder : folders) CreateDirectoryW(WidePath(folder).c_str(), nullptr);
    const std::string relative = folders.back() + "\\fw \xC3\xBC.s";
    const std::string file = base + "\\" + relative;
    ASSERT_GT(file.size(), 260u);
    std::FILE* f = _wfopen(WidePath(relative).c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    std::string forward = file;
    for (char& c : forward)
        if (c == '\\') c = '/';
    for (const std::string& form : {file, relative, folders.back() + "\\.\\x\\..\\fw \xC3\xBC.s", forward,
                                    "\\\\?\\" + file, "\\\\.\\" + file, "\\\\?\\" + forward}) {
        EXPECT_EQ(ResolvedPath(form), file) << form;
        EXPECT_TRUE(Opens(form)) << form;
    }
    // A share, however it is written, is \\server\share, opened in its long form; devices stay devices.
    EXPECT_EQ(ResolvedPath("\\\\?\\UNC\\server\\share\\fw.s"), "\\\\server\\share\\fw.s");
    EXPECT_EQ(ResolvedPath("//server/share/x/../fw.s"), "\\\\server\\share\\fw.s");
    EXPECT_EQ(WidePath("\\\\server\\share\\fw.s"), L"\\\\?\\UNC\\server\\share\\fw.s");
    EXPECT_EQ(WidePath("\\\\.\\COM12"), L"\\\\.\\COM12");

    DeleteFileW(WidePath(relative).c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) RemoveDirectoryW(WidePath(*folder).c_str());
}
