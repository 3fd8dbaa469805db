// Reading the firmware images into memory, once per process.
#include <algorithm>
#include <new>

#include "dialog/FirmwareImageRules.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"

namespace {

BYTE g_imagesLoaded = 0;

// One image file read into memory.
struct ImageRead {
    bool opened = false;            // false: the file could not be opened; nothing was logged
    DWORD fileSize = 0;             // from GetFileSize; MAXDWORD for 4 GiB and more
    DWORD read = 0;                 // bytes ReadFile delivered
    std::unique_ptr<BYTE[]> bytes;  // none when the read failed
};

// Reads the image file at `path` in one call into a new buffer of `bufferSize` bytes (0: the
// file's size). Bytes the file does not fill stay 0xFF, the content of erased flash. Logs
// "Read <name> update file: <n>k" and, when the read fails, "Load <name> Update File Failed".
// A file larger than `maxFileBytes` is measured but not read: it cannot be sent anyway, and
// may be far larger than the unit's memory.
ImageRead ReadImage(const std::wstring& path, const wchar_t* name, DWORD bufferSize,
                    ULONGLONG maxFileBytes = ~0ULL) {
    ImageRead image;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return image;
    image.opened = true;
    DWORD high = 0;
    image.fileSize = GetFileSize(file, &high);
    if (high != 0)
        image.fileSize = MAXDWORD;  // far beyond every limit; the size field has 32 bits
    if ((static_cast<ULONGLONG>(high) << 32 | image.fileSize) > maxFileBytes) {
        CloseHandle(file);
        return image;
    }
    DWORD size = bufferSize != 0 ? bufferSize : image.fileSize;
    wchar_t line[64];
    try {
        image.bytes = std::make_unique<BYTE[]>(size);
    } catch (const std::bad_alloc&) {
        wsprintfW(line, L"Load %s Update File Failed: out of memory\r\n", name);
        NKDbgPrintfW(L"%s", line);
        CloseHandle(file);
        return image;
    }
    std::fill_n(image.bytes.get(), size, BYTE{0xFF});
    BOOL ok = ReadFile(file, image.bytes.get(), size, &image.read, nullptr);
    wsprintfW(line, L"Read %s update file: %dk\r\n", name, static_cast<int>(image.read / 1024));
    NKDbgPrintfW(L"%s", line);
    if (!ok) {
        wsprintfW(line, L"Load %s Update File Failed\r\n", name);
        NKDbgPrintfW(L"%s", line);
        image.bytes.reset();
    }
    CloseHandle(file);
    return image;
}

}  // namespace

void ResetFirmwareImageLatch() {
    g_imagesLoaded = 0;
}

void CUpdateDialog::LoadFirmwareImages() {
    if (g_imagesLoaded)
        return;
    g_imagesLoaded = 1;
    if (m_updateFlags & UPDATE_MPEG) {
        ImageRead image = ReadImage(g_mpegSourceRoot + L"ZEL_Update\\DVDROM.bin", L"MPEG", 0,
                                    ULONGLONG{MPEG_IMAGE_MAX_BLOCKS} * MPEG_BLOCK_SIZE);
        if (image.opened) {
            m_mpegImageSize = image.fileSize;
            m_mpegBlockCount = MpegBlockCount(m_mpegImageSize);
            m_mpegImage = std::move(image.bytes);
        }
    }
    if (m_updateFlags & UPDATE_MCU) {
        // NOTE: a shorter file leaves the rest of the 128 KiB buffer as 0xFF, the content of
        // erased flash, so the MCU receives a defined image. A longer file is no MCU image
        // and is measured only; the stage start refuses it by its size.
        ImageRead image =
            ReadImage(g_mcuSourceRoot + L"ZEL_Update\\MCU", L"MCU", MCU_IMAGE_SIZE, MCU_IMAGE_SIZE);
        if (image.opened) {
            m_mcuImageSize = image.fileSize;
            m_mcuImage = std::move(image.bytes);
        }
    }
}
