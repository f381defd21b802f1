# Cross-build for the station's ARM64 board with Debian's cross compiler (g++-aarch64-linux-gnu).
#
# The compiler brings its own C and C++ runtime (/usr/aarch64-linux-gnu). The arm64 libraries we
# link (OpenCV, GoogleTest, ...) come from DIMCORE_ARM64_ROOT: a folder into which the arm64 Debian
# packages were unpacked (scripts/arm64.sh makes it). They are kept out of the host's package set
# because bookworm's arm64 OpenCV cannot be installed beside the amd64 one (libgdal32 is not
# Multi-Arch: same).
#
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
#         -DDIMCORE_ARM64_ROOT=$PWD/build-arm64-root
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# GCC notes on every function passing a std::pair<float, float> that its ABI changed in GCC 10.1;
# that concerns only code mixed with objects from older compilers, which this build never links.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")

set(DIMCORE_ARM64_ROOT "${CMAKE_CURRENT_LIST_DIR}/../build-arm64-root"
    CACHE PATH "Folder holding the unpacked arm64 Debian packages")
get_filename_component(DIMCORE_ARM64_ROOT "${DIMCORE_ARM64_ROOT}" ABSOLUTE)
# try_compile projects see only the variables named here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DIMCORE_ARM64_ROOT)

# Headers, libraries and CMake package files are searched only in the arm64 folders; programs
# (code generators, tools) only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu "${DIMCORE_ARM64_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The libraries we link pull in others (OpenCV's codecs, TBB, ...): let the linker find those in
# the arm64 folder without putting them on the command line.
foreach(dir lib/aarch64-linux-gnu usr/lib/aarch64-linux-gnu usr/lib)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${DIMCORE_ARM64_ROOT}/${dir}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${DIMCORE_ARM64_ROOT}/${dir}")
endforeach()

# ctest runs the test programs (and gtest_discover_tests lists them) through user-mode emulation,
# loading the arm64 libraries from the same folder.
find_program(DIMCORE_QEMU_AARCH64 qemu-aarch64)
if(DIMCORE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${DIMCORE_QEMU_AARCH64};-L;${DIMCORE_ARM64_ROOT}")
endif()
