# The image file with its compatibility rules, and the test log: portable libraries with no
# window, terminal or drive I/O of their own.
add_library(veltran_image STATIC
  ${CMAKE_CURRENT_LIST_DIR}/image_file.cpp ${CMAKE_CURRENT_LIST_DIR}/image_refusal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rules.cpp)
target_include_directories(veltran_image PUBLIC ${CMAKE_SOURCE_DIR}/tool)
target_link_libraries(veltran_image PUBLIC veltran_common PRIVATE veltran_warnings)

add_library(veltran_test_log STATIC ${CMAKE_CURRENT_LIST_DIR}/test_log.cpp)
target_include_directories(veltran_test_log PUBLIC ${CMAKE_SOURCE_DIR}/tool)
target_link_libraries(veltran_test_log PRIVATE veltran_warnings)
# "C:\FLASHTEST" on Windows; the filesystem root elsewhere.
if(WIN32)
  target_compile_definitions(veltran_test_log PRIVATE VELTRAN_LOG_ROOT="C:/")
else()
  target_compile_definitions(veltran_test_log PRIVATE VELTRAN_LOG_ROOT="/")
endif()
