# Shaping benchmark of the Windows build: the launcher picture's window region built one
# GDI call per transparent pixel versus one ExtCreateRegion from pixel runs. A console
# program to run under Wine (or Windows); it prints figures and asserts nothing.
add_executable(shaping_bench ${CMAKE_CURRENT_SOURCE_DIR}/shaping_bench_win32.cpp)
target_link_libraries(shaping_bench PRIVATE gor_window gor_platform_win32)
target_include_directories(shaping_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_link_options(shaping_bench PRIVATE -municode)
# Where the picture lies, so the benchmark runs without arguments from any folder.
target_compile_definitions(shaping_bench PRIVATE
  GOR_LAUNCHER_PICTURE="${CMAKE_SOURCE_DIR}/src/window/assets/launcher.bmp")
