// Reading the firmware images into memory, once per process.
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"

namespace {

BYTE g_imagesLoaded = 0;

constexpr DWORD kMcuImageSize = 131072;
constexpr DWORD kMpegBlockSize = 240;

HANDLE OpenImage(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void LogRead(const wchar_t* format, DWORD bytes) {
    wchar_t line[64];
    wsprintfW(line, format, static_cast<int>(bytes / 1024));
    NKDbgPrintfW(L"%s", line);
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
        HANDLE file = OpenImage(g_mpegSourceRoot + L"ZEL_Update\\DVDROM.bin");
        if (file != nullptr && file != INVALID_HANDLE_VALUE) {
            m_mpegImageSize = GetFileSize(file, nullptr);
            m_mpegBlockCount =
                m_mpegImageSize / kMpegBlockSize + (m_mpegImageSize % kMpegBlockSize != 0 ? 1 : 0);
            m_mpegImage = std::make_unique<BYTE[]>(m_mpegImageSize);
            DWORD read = 0;
            BOOL ok = ReadFile(file, m_mpegImage.get(), m_mpegImageSize, &read, nullptr);
            LogRead(L"Read MPEG update file: %dk\r\n", read);
            if (!ok) {
                NKDbgPrintfW(L"Load MPEG Update File Failed\r\n");
                m_mpegImage.reset();
            }
            CloseHandle(file);
        }
    }
    if (m_updateFlags & UPDATE_MCU) {
        HANDLE file = OpenImage(g_mcuSourceRoot + L"ZEL_Update\\MCU");
        if (file != nullptr && file != INVALID_HANDLE_VALUE) {
            // NOTE: a shorter file leaves the rest of the 128 KiB buffer as 0xFF, the
            // content of erased flash, so the MCU receives a defined image.
            m_mcuImage = std::make_unique<BYTE[]>(kMcuImageSize);
            std::fill_n(m_mcuImage.get(), kMcuImageSize, BYTE{0xFF});
            GetFileSize(file, nullptr);
            DWORD read = 0;
            BOOL ok = ReadFile(file, m_mcuImage.get(), kMcuImageSize, &read, nullptr);
            LogRead(L"Read MCU update file: %dk\r\n", read);
            if (!ok) {
                NKDbgPrintfW(L"Load MCU Update File Failed\r\n");
                m_mcuImage.reset();
            } else if (read == 0) {
                // NOTE: an empty file would go out as 128 KiB of erased flash and leave the
                // MCU without firmware; it counts as no image, so the stage fails with 31.
                NKDbgPrintfW(L"MCU update file is empty\r\n");
                m_mcuImage.reset();
            }
            CloseHandle(file);
        }
    }
}
