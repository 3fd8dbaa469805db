# Programs of the Windows build (included by the top-level CMakeLists.txt).
add_executable(quarrin ${CMAKE_SOURCE_DIR}/platform/win32/Win32Main.cpp)
target_link_libraries(quarrin PRIVATE quarrin_core quarrin_platform)
set_target_properties(quarrin PROPERTIES ENABLE_EXPORTS ON)

# A stand-in for the programs the loader starts: records its start by creating a file
# named like itself with ".started" appended.
add_executable(start-marker ${CMAKE_SOURCE_DIR}/tests/win32/StartMarker.cpp)

# The FAT utility library that storage formatting loads at run time from the device's
# "\Windows" folder. It is kept apart from quarrin.exe: a library beside the program would
# be found before the device's own.
add_library(fatutil MODULE ${CMAKE_SOURCE_DIR}/tools/fatutil/FatUtilWin32.cpp)
set_target_properties(fatutil PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME fatutil
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules)
target_include_directories(fatutil PRIVATE ${CMAKE_SOURCE_DIR})
