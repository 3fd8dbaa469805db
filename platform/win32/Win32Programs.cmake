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

# Creates the device's volatile registry keys (HARDWARE\DEVICEMAP\TOUCH) before a run.
add_executable(volatile-key ${CMAKE_SOURCE_DIR}/tests/win32/VolatileKey.cpp)
target_link_options(volatile-key PRIVATE -municode)

# zCompress.dll: the host library's sources over the real Windows API, with zstd and
# libarchive linked in statically. scripts/build-win32-deps.sh builds those two once into
# QUARRIN_WIN32_DEPS (about 10 minutes) and returns at once when they are there.
option(QUARRIN_WIN32_ZCOMPRESS "Build zCompress.dll, and zstd and libarchive for it" ON)
set(QUARRIN_WIN32_DEPS ${CMAKE_BINARY_DIR}/deps CACHE PATH
    "Static MinGW builds of zstd and libarchive for zCompress.dll")
set(QUARRIN_WIN32_DEPS_RESULT 1)
if(QUARRIN_WIN32_ZCOMPRESS)
  if(NOT EXISTS ${QUARRIN_WIN32_DEPS}/lib/libarchive.a)
    message(STATUS "Building zstd and libarchive for Windows into ${QUARRIN_WIN32_DEPS}")
  endif()
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/build-win32-deps.sh ${QUARRIN_WIN32_DEPS}
                  RESULT_VARIABLE QUARRIN_WIN32_DEPS_RESULT)
  if(NOT QUARRIN_WIN32_DEPS_RESULT EQUAL 0)
    message(WARNING "No zstd and libarchive for Windows (see above), so no zCompress.dll; "
                    "every build tries again until they are built")
    # The build touches a stamp that the configure depends on, so the next build configures
    # again and with it retries the libraries: a repaired apt set-up needs no manual step.
    set(retry ${CMAKE_BINARY_DIR}/CMakeFiles/win32-deps-retry)
    file(TOUCH ${retry})
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${retry})
    add_custom_target(win32_deps_retry ALL COMMAND ${CMAKE_COMMAND} -E touch ${retry}
                      COMMENT "zCompress.dll left out: the next build tries zstd and libarchive again")
  endif()
else()
  message(STATUS "zCompress.dll left out (QUARRIN_WIN32_ZCOMPRESS=OFF)")
endif()
if(QUARRIN_WIN32_DEPS_RESULT EQUAL 0)
  add_library(zCompress MODULE ${QUARRIN_ENTRY_RULE_SOURCES} ${QUARRIN_PACKAGE_READER_SOURCES}
                               ${QUARRIN_ZCOMPRESS_SOURCES})
  # Kept out of the executable's folder, which Windows searches first for a bare name: the
  # loader must find the copy in the device's "\Windows" folder, as on the device.
  set_target_properties(zCompress PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME zCompress
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  target_include_directories(zCompress PRIVATE ${CMAKE_SOURCE_DIR} ${QUARRIN_WIN32_DEPS}/include)
  # The headers declare the functions as DLL imports unless told the library is static.
  target_compile_definitions(zCompress PRIVATE LIBARCHIVE_STATIC)
  target_link_libraries(zCompress PRIVATE ${QUARRIN_WIN32_DEPS}/lib/libarchive.a
                        ${QUARRIN_WIN32_DEPS}/lib/libzstd.a user32)
endif()
