# Warnings on every target and clean everywhere; sanitizers for the native presets.
option(VELTRAN_WERROR "Treat warnings as errors" ON)
add_library(veltran_warnings INTERFACE)
target_compile_options(veltran_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast
  # GCC 12 reports std::string concatenation as overlapping copies at -O3 (a known false alarm).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
  $<$<BOOL:${VELTRAN_WERROR}>:-Werror>)

if(VELTRAN_SANITIZE)
  list(JOIN VELTRAN_SANITIZE "," _sanitizers)
  add_compile_options(-fsanitize=${_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_sanitizers})
endif()

if(WIN32)
  # One self-contained executable per program: no runtime DLLs beside the system's.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The programs call the wide Windows API (or name the A form where they mean it).
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 UNICODE _UNICODE)
endif()
