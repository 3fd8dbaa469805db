#include "check/FirmwareCheck.h"

#include "check/TextHelpers.h"
#include "dialog/FirmwareProtocol.h"
#include "dialog/ScreenTexts.h"
#include "plan/SourceSearch.h"
#include "plan/UpdatePlan.h"

namespace {

struct ImageFile {
    bool opened = false;
    ULONGLONG size = 0;
    BYTE endValue[2] = {};
    DWORD endValueRead = 0;
};

// Opens the image as image loading does (read access, no sharing).
ImageFile OpenImage(const std::wstring& path) {
    ImageFile image;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return image;
    image.opened = true;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    image.size = static_cast<ULONGLONG>(high) << 32 | low;
    SetFilePointer(file, static_cast<LONG>(MPEG_END_VALUE_OFFSET), nullptr, FILE_BEGIN);
    ReadFile(file, image.endValue, 2, &image.endValueRead, nullptr);
    CloseHandle(file);
    return image;
}

void Fail(KindReport& report, int code, bool codeKept, const std::wstring& why) {
    report.succeeds = false;
    report.code = code;
    report.codeKept = codeKept;
    report.failure = why;
    report.findings.push_back({Finding::FAILURE, why});
}

std::wstring Hex(BYTE high, BYTE low) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (BYTE b : {high, low}) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

// What the check cannot know, as the unit would meet it: whether the co-processor answers.
std::wstring LinkFacts(const std::wstring& peer, int lineDown, int silent) {
    return L"the " + peer +
           L"'s answers cannot be checked here: a COM port that does not open "
           L"or a line that hangs up fails the stage with code " +
           std::to_wstring(lineDown) + L", and a " + peer + L" that sends nothing for " +
           std::to_wstring(FIRMWARE_SILENCE_LIMIT_MS / 1000) + L" s with code " +
           std::to_wstring(silent);
}

}  // namespace

void CheckMcuImage(KindReport& report) {
    if (!report.found)
        return;
    report.runningText = RunningText(KIND_MCU, false, report.version);
    ImageFile image = OpenImage(report.source);
    if (!image.opened) {
        Fail(report, ERROR_MCU_IMAGE_MISSING, false, L"the image cannot be opened");
        return;
    }
    report.facts.push_back(L"image: " + Thousands(image.size) + L" bytes");
    int refused = McuImageSizeFailure(image.size);
    if (refused == ERROR_MCU_IMAGE_MISSING) {
        Fail(report, refused, false, L"the image is empty: the unit counts it as no image");
        return;
    }
    if (refused != 0) {
        Fail(report, refused, false,
             L"no MCU image: " + Thousands(image.size) + L" bytes (at least " +
                 Thousands(MCU_IMAGE_MIN_BYTES) + L" bytes, at most " + Thousands(MCU_IMAGE_SIZE) +
                 L"); nothing is sent to the MCU" +
                 (image.size > MCU_IMAGE_SIZE ? L", and the unit does not read it" : L""));
        return;
    }
    if (image.size < MCU_IMAGE_SIZE) {
        report.findings.push_back(
            {Finding::WARNING, L"the image is " + Thousands(MCU_IMAGE_SIZE - image.size) +
                                   L" bytes short of 128 KiB: the MCU receives it padded with "
                                   L"0xFF (erased flash)"});
        if (image.size <= static_cast<ULONGLONG>(MCU_VERSION_OFFSET))
            report.findings.push_back(
                {Finding::NOTE, L"the image ends before its version field: no version shows"});
    }
    report.facts.push_back(
        L"the MCU receives " + Thousands(MCU_BLOCK_COUNT) + L" blocks of " +
        std::to_wstring(MCU_BLOCK_SIZE) +
        L" bytes and the end frame; it decides the result (code " +
        std::to_wstring(ERROR_MCU_PROGRAMMING_FAILED) +
        L" when it reports a programming error). The unit resends the end frame once a second, " +
        std::to_wstring(MCU_END_PROGRAM_RESENDS) +
        L" times at most: without a result it shows success and the reset countdown");
    report.facts.push_back(LinkFacts(L"MCU", ERROR_MCU_LINE_DOWN, ERROR_MCU_SILENT));
}

void CheckMpegImage(KindReport& report) {
    if (!report.found)
        return;
    report.runningText = RunningText(KIND_MPEG, false, report.version);
    ImageFile image = OpenImage(report.source);
    if (!image.opened) {
        Fail(report, ERROR_MPEG_IMAGE_MISSING, false, L"the image cannot be opened");
        return;
    }
    // Image loading measures the file first and reads only one the protocol can carry.
    if (!IsMpegImageSizeUsable(image.size)) {
        bool large = image.size >= MPEG_IMAGE_MIN_BYTES;
        Fail(report, ERROR_MPEG_IMAGE_UNUSABLE, false,
             L"the protocol cannot carry the image: " + Thousands(image.size) +
                 L" bytes (at least " + Thousands(MPEG_IMAGE_MIN_BYTES) + L" bytes, at most " +
                 Thousands(MPEG_IMAGE_MAX_BLOCKS) + L" blocks of " +
                 std::to_wstring(MPEG_BLOCK_SIZE) + L" bytes)" +
                 (large ? L"; the unit does not read it" : L""));
        return;
    }
    DWORD blocks = MpegBlockCount(static_cast<DWORD>(image.size));
    report.facts.push_back(L"image: " + Thousands(image.size) + L" bytes, " + Thousands(blocks) +
                           L" blocks of " + std::to_wstring(MPEG_BLOCK_SIZE) + L" bytes");
    report.facts.push_back(
        L"end frame value " + Hex(image.endValue[0], image.endValue[1]) + L" (bytes " +
        std::to_wstring(MPEG_END_VALUE_OFFSET) + L" and " +
        std::to_wstring(MPEG_END_VALUE_OFFSET + 1) + L"); the module decides the result: code " +
        std::to_wstring(ERROR_MPEG_PROGRAMMING_FAILED) + L" when it reports a programming error, " +
        std::to_wstring(ERROR_MPEG_START_UNANSWERED) +
        L" when it does not answer the start of programming after 10 resends");
    report.facts.push_back(LinkFacts(L"MPEG module", ERROR_MPEG_LINE_DOWN, ERROR_MPEG_SILENT));
}
