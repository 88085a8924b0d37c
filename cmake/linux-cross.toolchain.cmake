# Cross-compiles for another Linux processor with Debian's g++-<triple>, the triple
# given as PI_ESTIMATE_TRIPLE (aarch64-linux-gnu, i686-linux-gnu, ...). Tests run
# under Debian's qemu-user with the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PI_ESTIMATE_TRIPLE)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${PI_ESTIMATE_TRIPLE}")
set(CMAKE_C_COMPILER ${PI_ESTIMATE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PI_ESTIMATE_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PI_ESTIMATE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu names two of the processors differently.
set(qemu_processor ${CMAKE_SYSTEM_PROCESSOR})
if(qemu_processor MATCHES "^i[3-6]86$")
  set(qemu_processor i386)
elseif(qemu_processor STREQUAL "powerpc64le")
  set(qemu_processor ppc64le)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_processor} -L /usr/${PI_ESTIMATE_TRIPLE})
