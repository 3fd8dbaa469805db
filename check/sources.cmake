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

# The entry point of the subcommand, which brings up the host platform.
add_library(quarrin_check_main STATIC check/CheckMain.cpp)
target_link_libraries(quarrin_check_main PUBLIC quarrin_check quarrin_platform_host)
