# The sources of the decompression library zCompress.dll, named once for every build that
# compiles them: the host module and the package reader (tools/CMakeLists.txt), the Windows
# module (platform/win32/Win32Programs.cmake) and the package fuzzer (tests/fuzz).
set(QUARRIN_ENTRY_RULE_SOURCES ${CMAKE_SOURCE_DIR}/tools/package/EntryRule.cpp)
# The package's archive read entry by entry under the entry rule.
set(QUARRIN_PACKAGE_READER_SOURCES
  ${CMAKE_SOURCE_DIR}/tools/zcompress/PackageEntries.cpp
  ${CMAKE_SOURCE_DIR}/tools/zcompress/PackageSource.cpp
)
# The library's own part: the staging folder and the exported entry points.
set(QUARRIN_ZCOMPRESS_SOURCES
  ${CMAKE_SOURCE_DIR}/tools/zcompress/StagingFolder.cpp
  ${CMAKE_SOURCE_DIR}/tools/zcompress/ZCompress.cpp
)
