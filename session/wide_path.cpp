#include "wide_path.h"

#include <windows.h>

namespace {

std::wstring FromUtf8(const std::string& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string ToUtf8(const std::wstring& text) {
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, bool anyCase = false) {
    size_t length = wcslen(prefix);
    if (text.size() < length) return false;
    return anyCase ? _wcsnicmp(text.c_str(), prefix, length) == 0 : text.compare(0, length, prefix) == 0;
}

// Without the namespace in front: GetFullPathNameW leaves a \\?\ name as it is, "..", "/" and all.
std::wstring WithoutNamespace(std::wstring name) {
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    if (StartsWith(name, L"\\\\?\\UNC\\", true) || StartsWith(name, L"\\\\.\\UNC\\", true))
        return L"\\\\" + name.substr(8);
    // A drive behind the prefix; \\.\COM3 and \\.\NUL stay devices.
    if ((StartsWith(name, L"\\\\?\\") || StartsWith(name, L"\\\\.\\")) && name.size() >= 6 && name[5] == L':')
        return name.substr(4);
    return name;
}

std::wstring FullPath(const std::wstring& name) {
    DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size == 0) return name;
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return name;
    full.resize(length);
    return full;
}

std::wstring Resolved(const std::string& utf8) { return FullPath(WithoutNamespace(FromUtf8(utf8))); }

}  // namespace

std::string ResolvedPath(const std::string& utf8) { return ToUtf8(Resolved(utf8)); }

std::wstring WidePath(const std::string& utf8) {
    std::wstring full = Resolved(utf8);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    if (StartsWith(full, L"\\\\") && !StartsWith(full, L"\\\\?\\") && !StartsWith(full, L"\\\\.\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return full;  // a device
}
