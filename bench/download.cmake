# Download benchmark: GorDownload on the POSIX layer against curl, both fetching a large file
# from nginx on 127.0.0.1. Prints figures; not a test. Built on request only:
#   cmake --build <dir> --target download_bench && <dir>/bench/download_bench
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(download_bench EXCLUDE_FROM_ALL
  ${CMAKE_CURRENT_LIST_DIR}/download_bench.cpp
  ${CMAKE_SOURCE_DIR}/tests/integration/server_process.cpp)
target_include_directories(download_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/integration)
target_compile_definitions(download_bench PRIVATE
  GOR_SUPPORT_DIR="${CMAKE_SOURCE_DIR}/tests/support"
  GOR_PYTHON="${Python3_EXECUTABLE}")
target_link_libraries(download_bench PRIVATE gor_download gor_platform_posix)
