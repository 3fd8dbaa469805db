// Fuzz target: the registry's ".reg" text form, read and written back.
//
// Each input is used twice:
//  1. as the bytes of a registry file in any of its forms (UTF-8 with or without a byte-order
//     mark, UTF-16LE with one, LF or CR LF): it is decoded and parsed; when it is accepted,
//     the text written from the result must parse again to the same keys and values, writing
//     that gives the same text again, and the file written back in the form it was read in
//     must be read as that form and give the same keys and values;
//  2. as a recipe for a registry built through the registry's own operations (keys below a
//     known root, values of any name, type and data): the text written from it, in every
//     form, must read back to the same keys and values. Whatever the registry accepts must
//     survive a save and a reload.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/registry/RegFileEncoding.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryTree.h"

namespace {

using quarrin::platform::DecodeRegFile;
using quarrin::platform::EncodeRegFile;
using quarrin::platform::FormatRegFile;
using quarrin::platform::ParseRegFile;
using quarrin::platform::RegFileLayout;
using quarrin::platform::RegistryKey;
using quarrin::platform::RegistryTree;
using quarrin::platform::RegistryValue;
using quarrin::platform::RegTextEncoding;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool SameValues(const RegistryKey& a, const RegistryKey& b) {
    if (a.path != b.path || a.values.size() != b.values.size())
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const RegistryValue& x = a.values[i];
        const RegistryValue& y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data)
            return false;
    }
    return true;
}

bool SameTree(const RegistryTree& a, const RegistryTree& b) {
    if (a.keys.size() != b.keys.size())
        return false;
    for (auto ia = a.keys.begin(), ib = b.keys.begin(); ia != a.keys.end(); ++ia, ++ib) {
        if (ia->first != ib->first || !SameValues(ia->second, ib->second))
            return false;
    }
    return true;
}

// `text` written in `layout` is read as that layout and gives `tree` again.
void CheckWrittenForm(const RegistryTree& tree, const std::string& text,
                      const RegFileLayout& layout) {
    quarrin::platform::RegFileText read = DecodeRegFile(EncodeRegFile(text, layout));
    Check(read.utf8.has_value() && read.layout == layout);
    quarrin::platform::RegParseResult again = ParseRegFile(*read.utf8);
    Check(again.tree.has_value() && SameTree(tree, *again.tree));
}

// The written text of `tree` reads back to `tree`; returns that text.
std::string CheckRoundTrip(const RegistryTree& tree) {
    std::string text = FormatRegFile(tree);
    quarrin::platform::RegParseResult again = ParseRegFile(text);
    if (!again.tree || !SameTree(tree, *again.tree)) {
        // Shows what was written and why it did not read back, beside the crash report.
        std::fprintf(stderr, "written text:\n%s\nread back: %s (line %d)\n", text.c_str(),
                     again.tree ? "different values" : again.error.c_str(), again.errorLine);
        __builtin_trap();
    }
    return text;
}

// Reads the recipe of the second use from the input bytes.
class Recipe {
public:
    explicit Recipe(std::string_view bytes) : m_bytes(bytes) {}
    bool Done() const { return m_at >= m_bytes.size(); }
    std::uint8_t Byte() { return Done() ? 0 : static_cast<std::uint8_t>(m_bytes[m_at++]); }

    // A character: a UTF-16 unit, or with the unit 0xFFFF a 32-bit value (code points past
    // the BMP and values no code point has).
    wchar_t Char() {
        std::uint32_t unit = Byte() | Byte() << 8;
        if (unit == 0xFFFF)
            unit = Byte() | Byte() << 8 | Byte() << 16 | static_cast<std::uint32_t>(Byte()) << 24;
        return static_cast<wchar_t>(unit);
    }
    std::wstring Text(std::size_t maximum) {
        std::wstring text;
        for (std::size_t n = Byte() % (maximum + 1); n > 0 && !Done(); --n)
            text.push_back(Char());
        return text;
    }
    std::vector<BYTE> Data() {
        std::vector<BYTE> data;
        for (std::size_t n = Byte() % 80; n > 0 && !Done(); --n)
            data.push_back(Byte());
        return data;
    }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

// Builds a registry through its own operations. Keys are made only by the platform's code,
// from names the text form can carry; values come through Set, which must refuse what the
// file could not bring back.
RegistryTree BuildTree(std::string_view bytes) {
    static const wchar_t* const kRoots[] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER",
                                            L"HKEY_CLASSES_ROOT", L"HKEY_USERS"};
    quarrin::platform::Registry registry;
    Recipe recipe(bytes);
    std::wstring keyPath = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";
    while (!recipe.Done()) {
        std::uint8_t step = recipe.Byte();
        if (step % 4 == 0) {
            std::wstring name = recipe.Text(12);
            if (quarrin::platform::FitsRegText(name)) {
                keyPath = quarrin::platform::JoinKeyPath(kRoots[step / 4 % 4], name);
                registry.CreateKey(keyPath);
            }
            continue;
        }
        std::wstring name = recipe.Text(12);
        std::uint8_t type = recipe.Byte();
        DWORD valueType = type < 0xF0 ? type % 12 : recipe.Byte() | recipe.Byte() << 8;
        std::vector<BYTE> data;
        if (valueType == REG_SZ && step % 4 == 1) {
            // Text as the registry functions store it: wide characters and a terminator.
            std::wstring text = recipe.Text(24) + L'\0';
            const auto* raw = reinterpret_cast<const BYTE*>(text.data());
            data.assign(raw, raw + text.size() * sizeof(wchar_t));
        } else {
            data = recipe.Data();
        }
        DWORD result = registry.Set(keyPath, name, valueType, data);
        Check(result == ERROR_SUCCESS ||
              (result == ERROR_INVALID_PARAMETER && !quarrin::platform::FitsRegText(name)));
    }
    return registry.Snapshot();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    quarrin::platform::RegFileText decoded = DecodeRegFile(bytes);
    if (!decoded.utf8) {
        Check(decoded.errorLine >= 1 && !decoded.error.empty());
    } else if (quarrin::platform::RegParseResult parsed = ParseRegFile(*decoded.utf8);
               parsed.tree) {
        std::string text = CheckRoundTrip(*parsed.tree);
        Check(FormatRegFile(*ParseRegFile(text).tree) == text);
        CheckWrittenForm(*parsed.tree, text, decoded.layout);
    } else {
        Check(parsed.errorLine >= 1 && !parsed.error.empty());
    }

    RegistryTree built = BuildTree(bytes);
    std::string text = CheckRoundTrip(built);
    for (RegTextEncoding encoding :
         {RegTextEncoding::Utf8, RegTextEncoding::Utf8WithMark, RegTextEncoding::Utf16LeWithMark}) {
        CheckWrittenForm(built, text, {encoding, false});
        CheckWrittenForm(built, text, {encoding, true});
    }
    return 0;
}
