target_sources(quarrin_main PRIVATE
  main/CommandLine.cpp
)
