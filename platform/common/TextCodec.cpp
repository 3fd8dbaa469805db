#include "platform/common/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace quarrin::platform {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto b0 = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t length = 1;
        int extra = b0 < 0x80         ? 0
                    : (b0 >> 5) == 6  ? 1
                    : (b0 >> 4) == 14 ? 2
                    : (b0 >> 3) == 30 ? 3
                                      : -1;
        if (extra == 0) {
            cp = b0;
        } else if (extra > 0 && i + static_cast<std::size_t>(extra) < text.size()) {
            std::uint32_t value = b0 & (0x3F >> extra);
            bool ok = true;
            for (int k = 1; k <= extra; ++k) {
                auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
                if ((b & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                value = (value << 6) | (b & 0x3F);
            }
            static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
            if (ok && value >= kMinimum[extra] && value <= 0x10FFFF &&
                !(value >= 0xD800 && value <= 0xDFFF)) {
                cp = value;
                length = static_cast<std::size_t>(extra) + 1;
            }
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += length;
    }
    return out;
}

bool CodePageToWide(unsigned codePage, const char* bytes, std::size_t count, std::wstring& out) {
    const char* name = codePage == 936 ? "CP936" : codePage == 65001 ? "UTF-8" : nullptr;
    if (name == nullptr)
        return false;
    static std::mutex s_lock;
    std::lock_guard lock(s_lock);
    iconv_t cd = iconv_open("WCHAR_T", name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = count;
    std::vector<wchar_t> chunk(count + 4);
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(chunk.data());
        std::size_t outLeft = chunk.size() * sizeof(wchar_t);
        std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        std::size_t produced = (chunk.size() * sizeof(wchar_t) - outLeft) / sizeof(wchar_t);
        out.append(chunk.data(), produced);
        if (result == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or incomplete sequence: replace one byte and go on.
            out.push_back(L'?');
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return true;
}

}  // namespace quarrin::platform
