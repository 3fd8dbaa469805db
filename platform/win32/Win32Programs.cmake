# Programs of the Windows build (included by the top-level CMakeLists.txt).
add_executable(quarrin ${CMAKE_SOURCE_DIR}/platform/win32/Win32Main.cpp)
target_link_libraries(quarrin PRIVATE quarrin_core quarrin_platform)
set_target_properties(quarrin PROPERTIES ENABLE_EXPORTS ON)

# A stand-in for the programs the loader starts: records its start by creating a file
# named like itself with ".started" appended.
add_executable(start-marker ${CMAKE_SOURCE_DIR}/tests/win32/StartMarker.cpp)
