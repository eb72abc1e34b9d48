# Third-party pieces: zlib and minizip, GoogleTest, Google Benchmark, nlohmann-json.

# nlohmann-json is header-only; the cross builds get a folder holding just its headers, so that
# the host's /usr/include never lands on a Windows compiler's path.
set(VELTRAN_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third_party/json-include)
if(NOT EXISTS ${VELTRAN_JSON_INCLUDE}/nlohmann)
  file(MAKE_DIRECTORY ${VELTRAN_JSON_INCLUDE})
  file(CREATE_LINK /usr/include/nlohmann ${VELTRAN_JSON_INCLUDE}/nlohmann SYMBOLIC)
endif()
add_library(veltran_json INTERFACE)
target_include_directories(veltran_json SYSTEM INTERFACE ${VELTRAN_JSON_INCLUDE})

if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

if(WIN32)
  # Debian ships minizip for the host only; its source comes from Debian's zlib source package.
  set(VELTRAN_MINIZIP_SOURCE ${CMAKE_SOURCE_DIR}/build/third_party/minizip CACHE PATH "minizip source folder")
  if(NOT EXISTS ${VELTRAN_MINIZIP_SOURCE}/unzip.c)
    message(FATAL_ERROR "minizip source not found in ${VELTRAN_MINIZIP_SOURCE}; run scripts/setup")
  endif()
  add_library(minizip STATIC
    ${VELTRAN_MINIZIP_SOURCE}/unzip.c ${VELTRAN_MINIZIP_SOURCE}/ioapi.c
    ${VELTRAN_MINIZIP_SOURCE}/iowin32.c ${VELTRAN_MINIZIP_SOURCE}/zip.c)
  target_include_directories(minizip SYSTEM PUBLIC ${VELTRAN_MINIZIP_SOURCE})
  target_compile_definitions(minizip PUBLIC NOUNCRYPT NOCRYPT)
  target_compile_options(minizip PRIVATE -w)
  target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip INTERFACE)
  target_link_libraries(minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
endif()

if(WIN32)
  # GoogleTest for the Windows test programs is built from Debian's source tree.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
endif()
include(GoogleTest)
