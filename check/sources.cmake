# `quarrin check`: the read-only check of a unit and its media. It sits above every other
# layer (it asks their rules) and reads packages with the decompression library's reader.
add_library(quarrin_check STATIC
  check/ApplicationCheck.cpp
  check/CheckCommandLine.cpp
  check/CheckRun.cpp
  check/CoursePrediction.cpp
  check/FirmwareCheck.cpp
  check/JsonWriter.cpp
  check/NaviCheck.cpp
  check/PackageCheck.cpp
  check/ReportOutput.cpp
  check/SourceChecks.cpp
  check/TextHelpers.cpp
  check/TreeFacts.cpp
)
target_link_libraries(quarrin_check PUBLIC quarrin_core quarrin_package_reader)

# The program of the subcommand, which brings up the host platform. `quarrin check ...` runs
# it from beside quarrin, so that quarrin itself links no archive library.
add_executable(quarrin-check check/CheckMain.cpp check/CheckProgram.cpp)
target_link_libraries(quarrin-check PRIVATE quarrin_check quarrin_platform_host)
