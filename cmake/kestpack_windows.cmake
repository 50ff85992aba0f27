# kestpack.exe: the packer for Windows 7 and later (x86-64), from the same
# sources as the Linux one with the Windows side of its system layer, and
# the ordinary MinGW runtime linked statically so that it needs no DLL
# beside it.
set(KEST_PACK_WINDOWS_SOURCES ${KEST_PURE_SOURCES} ${KEST_PACK_SOURCES} pack/main.cpp)
list(TRANSFORM KEST_PACK_WINDOWS_SOURCES REPLACE "files_posix" "files_windows")

add_executable(kestpack_windows ${KEST_PACK_WINDOWS_SOURCES})
target_include_directories(kestpack_windows PRIVATE ${CMAKE_SOURCE_DIR} ${KEST_GENERATED})
target_compile_definitions(kestpack_windows PRIVATE
    WINVER=0x0601 _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
target_compile_options(kestpack_windows PRIVATE -O2 -g0 -DNDEBUG -Wall -Wextra)
target_link_options(kestpack_windows PRIVATE -static -s
    -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,6 -Wl,--minor-os-version,1)
target_link_libraries(kestpack_windows PRIVATE bcrypt shell32 kernel32)
set_target_properties(kestpack_windows PROPERTIES
    OUTPUT_NAME kestpack SUFFIX .exe
    RUNTIME_OUTPUT_DIRECTORY ${KEST_BIN})
