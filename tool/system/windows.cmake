# The Windows system interface: version, registry, process list, privileges and restart.
add_library(veltran_host_system STATIC system_win.cpp)
target_link_libraries(veltran_host_system PUBLIC veltran_system PRIVATE veltran_warnings advapi32 user32)
