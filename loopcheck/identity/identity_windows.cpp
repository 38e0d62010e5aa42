// ASIO's driver behind a device, read as the ASIO driver list reads it: the
// key under HKLM\SOFTWARE\ASIO whose description (else name) is the
// device's name, its CLSID, HKCR\CLSID\{...}\InprocServer32 (the DLL), and the
// DLL's version resource. Every step may fail; the driver then says which in
// its reason, with what was read before it.
#include <windows.h>

#include <winver.h>

#include <vector>

#include "loopcheck/identity/identity.hpp"

namespace {

std::string utf8_of(const wchar_t* text, size_t length)
{
    return identity_utf8(std::u16string(reinterpret_cast<const char16_t*>(text), length));
}

std::wstring wide_of(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// A string value (REG_SZ, or REG_EXPAND_SZ expanded), "" when it is not there.
// RRF_RT_REG_SZ alone: RegGetValueW expands a REG_EXPAND_SZ and takes it as
// REG_SZ; asked for RRF_RT_REG_EXPAND_SZ without RRF_NOEXPAND it fails
// every value (ERROR_INVALID_PARAMETER).
std::string value_of(HKEY key, const wchar_t* subkey, const wchar_t* value)
{
    DWORD bytes = 0;
    const DWORD flags = RRF_RT_REG_SZ;
    if (RegGetValueW(key, subkey, value, flags, nullptr, nullptr, &bytes) != ERROR_SUCCESS || bytes == 0)
        return "";
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(key, subkey, value, flags, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
        return "";
    return utf8_of(text.data(), text.size());
}

// The version resource's text named, from the first string table that has it.
std::string version_text(const std::vector<unsigned char>& block, const std::vector<std::string>& tables,
                         const char* name)
{
    for (const std::string& table : tables) {
        void* text = nullptr;
        UINT length = 0;
        const std::wstring path = wide_of(table + name);
        if (VerQueryValueW(block.data(), path.c_str(), &text, &length) && text && length > 0)
            return utf8_of(static_cast<const wchar_t*>(text), length);
    }
    return "";
}

}  // namespace

std::optional<identity_driver> identity_read_asio_driver(const std::string& name)
{
    identity_driver d;
    d.api = "ASIO", d.name = name;
    HKEY asio = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO", 0, KEY_READ, &asio) != ERROR_SUCCESS) {
        d.reason = "no HKLM\\SOFTWARE\\ASIO key";
        return d;
    }
    std::vector<identity_asio_key> keys;
    wchar_t key_name[256];
    for (DWORD i = 0;; i++) {
        DWORD length = sizeof key_name / sizeof key_name[0];
        if (RegEnumKeyExW(asio, i, key_name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        keys.push_back({utf8_of(key_name, length), value_of(asio, key_name, L"description")});
    }
    const std::string key = identity_asio_key_of(name, keys);
    if (key.empty()) {
        RegCloseKey(asio);
        d.reason = "no key under HKLM\\SOFTWARE\\ASIO names the driver";
        return d;
    }
    d.clsid = identity_clsid(value_of(asio, wide_of(key).c_str(), L"CLSID"));
    RegCloseKey(asio);
    if (d.clsid.empty()) {
        d.reason = "the driver's key has no CLSID";
        return d;
    }
    d.path = value_of(HKEY_CLASSES_ROOT, wide_of("CLSID\\" + d.clsid + "\\InprocServer32").c_str(), nullptr);
    if (d.path.empty()) {
        d.reason = "the CLSID names no InprocServer32";
        return d;
    }
    const std::wstring path = wide_of(d.path);
    DWORD ignored = 0;
    // A path without a folder is looked up as LoadLibrary looks it up (system32 first).
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    const DWORD error = size == 0 ? GetLastError() : ERROR_SUCCESS;
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        const bool missing =
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_MOD_NOT_FOUND;
        d.reason = missing ? "the DLL is not there" : "no version resource";
        return d;
    }
    void* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", &fixed, &length) && fixed && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        d.version = identity_file_version(info->dwFileVersionMS, info->dwFileVersionLS);
    }
    std::vector<uint16_t> translation;
    void* pairs = nullptr;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &pairs, &length) && pairs)
        translation.assign(static_cast<const uint16_t*>(pairs), static_cast<const uint16_t*>(pairs) + length / 2);
    const std::vector<std::string> tables = identity_string_tables(translation);
    if (d.version.empty())
        d.version = version_text(block, tables, "FileVersion");
    d.product = version_text(block, tables, "ProductName");
    d.company = version_text(block, tables, "CompanyName");
    if (d.version.empty())
        d.reason = "the version resource holds no version";
    return d;
}
