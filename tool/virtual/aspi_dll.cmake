# The test ASPI manager: virtual drives behind the ASPI entry points, for runs under Wine. It
# lands beside the programs, where the ASPI back end looks for it first.
add_library(wnaspi32 SHARED wnaspi32_dll.cpp wnaspi32.def)
set_target_properties(wnaspi32 PROPERTIES
  PREFIX "" OUTPUT_NAME WNASPI32 SUFFIX ".DLL"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(wnaspi32 PRIVATE veltran_virtual veltran_warnings)
