# Cross build for Linux on another processor, with Debian's cross compilers;
# tests run under qemu-user. The preset names the target in
# VORNISH_CROSS_TRIPLE (arm-linux-gnueabihf, s390x-linux-gnu); its first part
# is the processor, and qemu's name for it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNISH_CROSS_TRIPLE)
string(REGEX MATCH "^[^-]+" vornish_cross_processor "${VORNISH_CROSS_TRIPLE}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${vornish_cross_processor})
set(CMAKE_C_COMPILER ${VORNISH_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VORNISH_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${VORNISH_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${vornish_cross_processor} -L /usr/${VORNISH_CROSS_TRIPLE})
