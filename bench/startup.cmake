# Start-up benchmark of the Windows build (bench/startup.py): the yardstick it races
# gorlaunch.exe against, a program that does nothing but show a window.
add_executable(bare_window WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/bare_window_win32.cpp)
target_link_options(bare_window PRIVATE -municode)
