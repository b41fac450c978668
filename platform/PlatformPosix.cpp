#ifndef _WIN32

#include "platform/Platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace pellucer::platform {

namespace {

std::u16string widenUtf8(const std::string& text) {
    std::u16string wide;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t c = lead;
        size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (extra > 0)
            c = lead & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(c));
        }
    }
    return wide;
}

std::string narrowUtf8(const std::u16string& wide) {
    std::string text;
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | (c >> 12)));
            text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | (c >> 18)));
            text.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return text;
}

} // namespace

bool modulePath(std::u16string& path) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&modulePath), &info) == 0 || info.dli_fname == nullptr)
        return false;
    std::string file = info.dli_fname;
    // Code linked into the program itself reports the program's name as it was started; the
    // kernel knows its real path.
    if (file.empty() || file.find('/') == std::string::npos) {
        char buffer[4096];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
        if (n <= 0)
            return false;
        file.assign(buffer, static_cast<size_t>(n));
    }
    if (char* resolved = realpath(file.c_str(), nullptr)) {
        file = resolved;
        std::free(resolved);
    }
    path = widenUtf8(file);
    return true;
}

bool readFolderSetting(const char* valueName, std::u16string& value) {
    // "Resources Folder" -> PELLUCER_RESOURCES_FOLDER
    std::string variable = "PELLUCER_";
    for (const char* p = valueName; *p != '\0'; ++p)
        variable.push_back(*p == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(*p))));
    const char* setting = std::getenv(variable.c_str());
    if (setting == nullptr || *setting == '\0')
        return false;
    value = widenUtf8(setting);
    return true;
}

void initialiseUiLibraries() {}
void releaseUiLibraries() {}
void showHelp(const std::u16string&) {}

std::filesystem::path toPath(const std::u16string& path) { return std::filesystem::path(narrowUtf8(path)); }

} // namespace pellucer::platform

#endif
