// File mappings on the paging file: a named block of memory shared inside the process.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/api/MemoryApi.h"
#include "platform/kernel/Kernel.h"

using namespace quarrin::kernel;

namespace {

class SectionObject : public KernelObject {
public:
    explicit SectionObject(std::size_t size) : m_size(size), m_memory(new BYTE[size]()) {}
    std::size_t Size() const { return m_size; }
    BYTE* Memory() { return m_memory.get(); }

private:
    std::size_t m_size;
    std::unique_ptr<BYTE[]> m_memory;
};

// The open handles share the section; each mapped view holds it too, so the memory outlives
// a CloseHandle that comes before UnmapViewOfFile, as on the device.
struct MappingTable {
    std::mutex lock;
    std::map<std::wstring, std::weak_ptr<SectionObject>> named;
    std::multimap<const void*, std::shared_ptr<SectionObject>> views;
};

MappingTable& Mappings() {
    static MappingTable table;
    return table;
}

}  // namespace

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh,
                          DWORD sizeLow, LPCWSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastErrorValue(ERROR_NOT_SUPPORTED);  // only the paging file backs mappings here
        return nullptr;
    }
    if (protect != PAGE_READWRITE && protect != PAGE_READONLY) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint64_t size = (std::uint64_t{sizeHigh} << 32) | sizeLow;
    MappingTable& table = Mappings();
    std::lock_guard lock(table.lock);
    if (name != nullptr && *name != L'\0') {
        if (auto existing = table.named[name].lock()) {
            HANDLE handle = InsertHandle(existing);
            SetLastErrorValue(ERROR_ALREADY_EXISTS);
            return handle;
        }
    }
    if (size == 0 || size > (std::uint64_t{1} << 31)) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto section = std::make_shared<SectionObject>(static_cast<std::size_t>(size));
    if (name != nullptr && *name != L'\0')
        table.named[name] = section;
    HANDLE handle = InsertHandle(section);
    SetLastErrorValue(ERROR_SUCCESS);
    return handle;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes) {
    auto section = LookupHandleAs<SectionObject>(mapping);
    if (!section) {
        SetLastErrorValue(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::uint64_t offset = (std::uint64_t{offsetHigh} << 32) | offsetLow;
    if (desiredAccess == 0 || offset > section->Size() || bytes > section->Size() - offset) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    BYTE* view = section->Memory() + offset;
    MappingTable& table = Mappings();
    std::lock_guard lock(table.lock);
    table.views.emplace(view, std::move(section));
    return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    std::shared_ptr<SectionObject> section;  // released after the table lock
    MappingTable& table = Mappings();
    std::lock_guard lock(table.lock);
    auto it = table.views.find(baseAddress);
    if (it == table.views.end()) {
        SetLastErrorValue(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    section = std::move(it->second);
    table.views.erase(it);
    return TRUE;
}
