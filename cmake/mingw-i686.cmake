# Cross-build for 32-bit Windows with mingw-w64 (i686): clang and lld, on the mingw-w64 runtime
# and GCC's libstdc++, libgcc and unwinder as Debian installs them for i686-w64-mingw32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GOR_MINGW_TARGET i686-w64-mingw32)

# GCC's own folder for the target, of the win32 thread model: no program on the Windows side
# starts a thread through the C++ library, and the posix model would link winpthreads into
# each of them (26 KB of gorlaunch.exe).
execute_process(COMMAND ${GOR_MINGW_TARGET}-gcc-win32 -print-file-name=crtbegin.o
                OUTPUT_VARIABLE GOR_MINGW_CRTBEGIN OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(GOR_MINGW_GCC_DIR "${GOR_MINGW_CRTBEGIN}" DIRECTORY)
if(NOT EXISTS "${GOR_MINGW_GCC_DIR}/libstdc++.a")
  message(FATAL_ERROR "no ${GOR_MINGW_TARGET} GCC libraries (g++-mingw-w64-i686-win32; scripts/setup)")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${GOR_MINGW_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${GOR_MINGW_TARGET})
set(CMAKE_RC_COMPILER ${GOR_MINGW_TARGET}-windres)
# Archives of link-time-optimised objects need an index of their bitcode's symbols.
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)
# clang's mingw driver does not recognise Debian's GCC folder ("12-win32"), so it is named:
# its C++ headers, its libraries, and above all its crtbegin.o and crtend.o (-B), which register
# the program's unwind tables with libgcc's unwinder. Without them a thrown exception finds no
# handler and the program aborts.
set(GOR_MINGW_CXX_HEADERS ${GOR_MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${GOR_MINGW_CXX_HEADERS} ${GOR_MINGW_CXX_HEADERS}/${GOR_MINGW_TARGET} ${GOR_MINGW_CXX_HEADERS}/backward)
# Types are compared by name, as libstdc++ was built for this target: its type_info equality
# is the library's one function, not an inline copy in every object.
set(CMAKE_CXX_FLAGS_INIT "-D__GXX_TYPEINFO_EQUALITY_INLINE=0")
# Address space layout randomisation (--dynamicbase: a relocatable image Windows loads at a
# random base) and data execution prevention (--nxcompat) are lld's defaults for mingw; they are
# stated here so that no default of another linker version can take them away, and
# scripts/release refuses an exe whose header lacks either.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -B${GOR_MINGW_GCC_DIR}/ -L${GOR_MINGW_GCC_DIR} -Wl,--dynamicbase -Wl,--nxcompat")

set(CMAKE_FIND_ROOT_PATH /usr/${GOR_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests registered by this build run on the build host (under Wine).
set(CMAKE_CROSSCOMPILING_EMULATOR "")
