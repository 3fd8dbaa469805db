// Writes the small seed inputs of the fuzz targets: good files of each kind and near misses.
// Usage: fuzz_seed_corpus CORPUS_DIR   (writes CORPUS_DIR/<target>/<name>; the deframer's
// seeds in CORPUS_DIR/link_frame are kept by hand)
//
// Packages are built by the package tool's writer; a few carry an uncompressed tar, which the
// reader accepts too and which lets the fuzzer change tar headers directly.
#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/mkpackage/PackageWriter.h"

namespace {

namespace fs = std::filesystem;
using quarrin::package::PackageEntry;
using Kind = quarrin::package::PackageEntry::Kind;

fs::path g_root;

void Put(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(g_root / target);
    std::ofstream(g_root / target / name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Utf16(const std::u16string& text, std::size_t bytes) {
    std::string out(bytes, '\0');
    for (std::size_t i = 0; i < text.size() && 2 * i + 1 < bytes; ++i) {
        out[2 * i] = static_cast<char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return out;
}

std::string Package(const std::string& marker, const std::string& version,
                    const std::vector<PackageEntry>& entries) {
    fs::path temporary = fs::temp_directory_path() / "quarrin-seed-package";
    std::string error;
    if (!quarrin::package::WritePackage(temporary.string(), {marker, version}, entries, error)) {
        std::fprintf(stderr, "fuzz_seed_corpus: %s\n", error.c_str());
        std::exit(1);
    }
    std::string bytes = ReadAll(temporary);
    fs::remove(temporary);
    return bytes;
}

// A first-layout header followed by an uncompressed tar of `entries` (files and folders).
std::string PlainTarPackage(const std::vector<PackageEntry>& entries) {
    std::vector<char> buffer(1 << 16);
    std::size_t used = 0;
    struct archive* writer = archive_write_new();
    archive_write_set_format_ustar(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    for (const PackageEntry& source : entries) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, source.path.c_str());
        bool folder = source.kind == Kind::Directory;
        archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, folder ? 0755 : 0644);
        archive_entry_set_size(entry, folder ? 0 : static_cast<la_int64_t>(source.data.size()));
        archive_write_header(writer, entry);
        if (!folder)
            archive_write_data(writer, source.data.data(), source.data.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return Utf16(u"ZEL-OKUN-1", 20) + Utf16(u"V0.9", 44) + std::string(buffer.data(), used);
}

PackageEntry File(std::string path, std::string data) {
    return {std::move(path), Kind::File, std::move(data), "", ""};
}
PackageEntry Folder(std::string path) {
    return {std::move(path), Kind::Directory, "", "", ""};
}
PackageEntry Link(Kind kind, std::string path, std::string target) {
    return {std::move(path), kind, "", "", std::move(target)};
}

void PackageSeeds() {
    const std::vector<PackageEntry> app = {Folder("ZEL"), File("ZEL/Velmoran.exe", "#!/bin/sh\n"),
                                           Folder("ZEL/res"), File("ZEL/res/a.dat", "0123456789")};
    std::string good = Package("ZEL-OKUN-1", "V1.0", app);
    Put("package", "okun1-app", good);
    Put("package", "okun2-cjk-names",
        Package("ZEL-OKUN-2", "V2.0 导航",
                {Folder("ZEL"), File("ZEL/地图.dat", "map"), File("ZEL\\win\\sep.txt", "x")}));
    Put("package", "plain-tar", PlainTarPackage(app));
    Put("package", "plain-tar-dotdot", PlainTarPackage({File("ZEL/../../x", "escape")}));
    Put("package", "dotdot", Package("ZEL-OKUN-1", "V1", {File("../sibling/x", "escape")}));
    Put("package", "absolute", Package("ZEL-OKUN-1", "V1", {File("/tmp/x", "escape")}));
    Put("package", "symlink-then-file",
        Package("ZEL-OKUN-1", "V1", {Link(Kind::Symlink, "ZEL", "../.."), File("ZEL/x", "y")}));
    Put("package", "hardlink",
        Package("ZEL-OKUN-1", "V1", {File("a", "data"), Link(Kind::Hardlink, "b", "a")}));
    Put("package", "header-only", good.substr(0, 64));
    Put("package", "cut-archive", good.substr(0, good.size() - good.size() / 3));
    Put("package", "foreign-marker", Utf16(u"ZEL-OKUN-9", 20) + good.substr(20));
}

void RecordSeeds() {
    Put("update_record", "empty", "");
    Put("update_record", "app-short", std::string("\x02", 1));
    Put("update_record", "app-word", std::string("\x02\0\0\0", 4));
    Put("update_record", "word-one", std::string("\x01\0\0\0", 4));
    Put("update_record", "all-kinds-long", std::string("\x4e\0\0\0trailing", 12));
    Put("update_record", "high-bytes", std::string("\0\0\0\x80", 4));
}

void RegistrySeeds() {
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    Put("registry_file", "touch-key",
        header +
            "[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\HARDWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP]\n\n"
            "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n"
            "\"MAX1_X\"=dword:00000320\n\"MIN1_X\"=dword:00000000\n\"CalibrationData\"=\"512,"
            "384 100,100\"\n\n");
    Put("registry_file", "value-forms",
        "\xEF\xBB\xBF" + header +
            "; a comment\r\n[HKEY_CURRENT_USER\\Software\\Local AppWizard-Generated "
            "Applications\\Quarrin]\r\n"
            "@=\"default\"\r\n\"Quote \\\"and\\\\ slash\"=\"text \\\"q\\\" 文字\"\r\n"
            "\"Bin\"=hex:00,01,ff\r\n\"Multi\"=hex(7):41,00,00,00,00,00,00,00,\\\r\n"
            "  00,00,00,00\r\n\"Odd\"=hex(0):\r\n\"Big\"=hex(ffffffff):7f\r\n");
    Put("registry_file", "regedit4", "REGEDIT4\n\n[HKEY_USERS\\.DEFAULT]\n\"n\"=dword:1\n");
    Put("registry_file", "unknown-root", header + "[HKEY_NOWHERE\\X]\n\"a\"=dword:0\n");
    Put("registry_file", "broken-hex", header + "[HKEY_USERS\\A]\n\"a\"=hex:0g,1\n");
    Put("registry_file", "empty", "");
    // As a registry editor exports it: UTF-16LE with a byte-order mark and CR LF.
    std::string exported = "\xFF\xFE";
    for (char c : header +
                      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n"
                      "@=\"x\"\n\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,\\\n"
                      "  0d,0e\n\"Multi\"=hex(7):41,00,00,00,00,00\n\"MAX1_X\"=dword:00000320\n") {
        if (c == '\n')
            exported += std::string("\r\0", 2);
        exported += std::string(1, c) + '\0';
    }
    // A surrogate pair (U+1F600) in a value.
    exported += std::string("\"\0V\0\"\0=\0\"\0\x3D\xD8\x00\xDE\"\0\r\0\n\0", 20);
    Put("registry_file", "utf16-editor-export", exported);
}

void HeaderSeeds() {
    Put("update_header", "okun1",
        Utf16(u"ZEL-OKUN-1", 20) + Utf16(u"V1.2.3 build 7", 44) + std::string(20, 'z'));
    Put("update_header", "okun2-full",
        Utf16(u"ZEL-OKUN-2", 20) + Utf16(std::u16string(120, u'v'), 240));
    Put("update_header", "okun2-short", Utf16(u"ZEL-OKUN-2", 20) + Utf16(u"V2", 8));
    Put("update_header", "cut-marker", Utf16(u"ZEL-OK", 9));
    // A firmware image start: the MPEG version at offset 48, a code-page text for the MCU.
    Put("update_header", "mpeg-version",
        std::string("MCU-V2.17 \xb5\xbc\xba\xbd\0\0", 16) + std::string(32, '\x11') +
            std::string("DVD V1.05\0\0\0\0\0\0\0", 16));
    Put("update_header", "code-page-edges", std::string("\x81\x30\x81\x30\xff\x80\xa1", 7));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seed_corpus CORPUS_DIR\n");
        return 2;
    }
    // libarchive translates non-ASCII names through the locale, as in the package tool.
    std::setlocale(LC_ALL, "C.UTF-8");
    g_root = argv[1];
    PackageSeeds();
    RecordSeeds();
    RegistrySeeds();
    HeaderSeeds();
    return 0;
}
