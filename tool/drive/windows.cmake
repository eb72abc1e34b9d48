# Windows back ends: pass-through on the NT family, the ASPI manager on the 9x family.
add_library(veltran_host_drive STATIC
  passthrough_win.cpp aspi_win.cpp host_backend_win.cpp)
target_link_libraries(veltran_host_drive PUBLIC veltran_drive PRIVATE veltran_warnings)
