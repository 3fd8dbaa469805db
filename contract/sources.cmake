target_sources(quarrin_contract PRIVATE
  contract/UpdateContract.cpp
)
