# kestsetup.exe: a GUI-subsystem PE32 with no C runtime, runnable from
# Windows 95 and NT 4 on; kestsetup64.exe: the same sources as a PE32+ for
# 64-bit Windows without WoW64. Only KnownDLLs are imported statically.
set(KEST_STUB_SOURCES
    ${KEST_PURE_SOURCES}
    common/crt.cpp
    common/exit.cpp
    common/library.cpp
    common/paths.cpp
    common/process.cpp
    common/registry.cpp
    common/state.cpp
    common/system.cpp
    driver/launch.cpp
    driver/extraction.cpp
    driver/main.cpp
    driver/password.cpp
    driver/removal.cpp
    driver/runtime_install.cpp
    driver/settings_file.cpp
    driver/settings_source.cpp
    driver/socket_handler.cpp
    payload/digest.cpp
    payload/header.cpp
    payload/locator.cpp
    payload/section.cpp
    payload/stream.cpp
    runtime/check.cpp
    runtime/flags.cpp
    runtime/reboot.cpp
    runtime/version.cpp
    transfer/discovery.cpp
    transfer/entry.cpp
    transfer/receive.cpp
    transfer/socket.cpp
    transfer/state.cpp
    transfer/wininet.cpp
    transfer/winsock.cpp
    ui/animation.cpp
    ui/controls.cpp
    ui/font.cpp
    ui/language.cpp
    ui/messages.cpp
    ui/password.cpp
    ui/progress.cpp
)

# Optimised across files at link time: an eighth of the code goes, as the
# routines each file offers are inlined and dropped where one caller uses
# them. The link must then be told which entry points the exports and the
# section marker keep, as it sees no caller of theirs.
set(KEST_STUB_FLAGS
    -Oz -flto -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -fno-threadsafe-statics -fno-stack-protector
    -fno-tree-loop-distribute-patterns
    # One code section per source file, not per routine: the assembler pads
    # every section to four bytes, which costs more than the few routines
    # that sections of their own would let the linker drop. Routines that
    # only the packer and the tests call are inline in their headers.
    # Data aligned only as the ABI asks: wider alignment pads the file.
    -malign-data=abi
    -Wall -Wextra -Wno-cast-function-type -Werror=return-type)

# What differs between the two stubs: x86 decorates standard-call names
# and runs from Windows 4.0 on; x86-64 decorates nothing, and its loader
# takes no subsystem version below 5.2.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KEST_ARCH x64)
    set(KEST_STUB_NAME kestsetup64)
    set(KEST_STUB_DEF ${CMAKE_SOURCE_DIR}/driver/kestsetup64.def)
    set(KEST_ARCH_LINK_OPTIONS
        -Wl,-e,KestEntry -Wl,--undefined=KestSectionMarker
        -Wl,--undefined=LanguageDlg,--undefined=PasswordDlg,--undefined=ProgressDlg
        -Wl,--undefined=UpdateCRC,--undefined=t1,--undefined=t2
        -Wl,--subsystem,windows:5.2
        -Wl,--major-os-version,5 -Wl,--minor-os-version,2
        -Wl,--high-entropy-va)
else()
    set(KEST_ARCH x86)
    set(KEST_STUB_NAME kestsetup)
    # Windows keeps the stack 4-byte aligned on x86; keeping it 16-byte
    # aligned as well only costs code. The compiler's default processor is
    # the Pentium Pro, whose conditional moves a Pentium or a 486 running
    # Windows 95 or NT 4 does not have.
    set(KEST_ARCH_COMPILE_OPTIONS -mpreferred-stack-boundary=2 -march=i386)
    set(KEST_STUB_DEF ${CMAKE_SOURCE_DIR}/driver/kestsetup.def)
    set(KEST_ARCH_LINK_OPTIONS
        -Wl,-e,_KestEntry@0 -Wl,--undefined=_KestSectionMarker
        -Wl,--undefined=_LanguageDlg@16,--undefined=_PasswordDlg@16
        -Wl,--undefined=_ProgressDlg@16,--undefined=_UpdateCRC@8
        -Wl,--undefined=_t1@40,--undefined=_t2@12
        -Wl,--subsystem,windows:4.0
        -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
endif()

# The linker's own script with one change: the export table, a few dozen
# bytes, shares the section of the read-only data instead of having one of
# its own, which the file would pad to 512 bytes. The linker points the
# export directory at the section it finds by the name ".edata", so the
# merged section keeps that name and begins with the table. The directory's
# range then spans the read-only data as well; a loader takes an export
# that points into that range for a forwarder, and every export points
# into the code, which lies before it.
execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE KEST_LD_VERBOSE)
string(REGEX REPLACE ".*\n=+\n(.*)\n=+\n.*" "\\1" KEST_LD_SCRIPT "${KEST_LD_VERBOSE}")
set(KEST_LD_EDATA "  .edata BLOCK(__section_alignment__) :\n  {\n    *(.edata)\n  }\n")
set(KEST_LD_RDATA "  .rdata BLOCK(__section_alignment__) :\n  {\n")
string(FIND "${KEST_LD_SCRIPT}" "${KEST_LD_EDATA}" KEST_LD_EDATA_AT)
string(FIND "${KEST_LD_SCRIPT}" "${KEST_LD_RDATA}" KEST_LD_RDATA_AT)
if(KEST_LD_EDATA_AT LESS 0 OR KEST_LD_RDATA_AT LESS 0)
    message(FATAL_ERROR "${CMAKE_LINKER}'s default script has no .edata or .rdata section as expected")
endif()
string(REPLACE "${KEST_LD_EDATA}" "" KEST_LD_SCRIPT "${KEST_LD_SCRIPT}")
string(REPLACE "${KEST_LD_RDATA}" "  .edata BLOCK(__section_alignment__) :\n  {\n    *(.edata)\n"
       KEST_LD_SCRIPT "${KEST_LD_SCRIPT}")
# The import tables join that section too, at its end: the loader makes
# the import address table writable while it fills it, then restores it.
string(REGEX MATCH "  \\.idata BLOCK\\(__section_alignment__\\) :\n  {\n([^}]*)  }\n"
       KEST_LD_IDATA "${KEST_LD_SCRIPT}")
set(KEST_LD_RDATA_END "    __rt_psrelocs_end = .;\n  }\n")
string(FIND "${KEST_LD_SCRIPT}" "${KEST_LD_RDATA_END}" KEST_LD_RDATA_END_AT)
if(NOT KEST_LD_IDATA OR KEST_LD_RDATA_END_AT LESS 0)
    message(FATAL_ERROR "${CMAKE_LINKER}'s default script has no .idata section as expected")
endif()
string(REPLACE "${KEST_LD_IDATA}" "" KEST_LD_SCRIPT "${KEST_LD_SCRIPT}")
# Without a section of that name the linker finds the import directory by
# the symbols .idata$2 and .idata$4 (its start and end), the address table
# by .idata$5 and .idata$6.
set(KEST_LD_IMPORTS "${CMAKE_MATCH_1}")
foreach(part 2 4 5 6)
    set(KEST_LD_MARK "    \".idata$${part}\" = ABSOLUTE(.) - __image_base__;")
    string(REGEX REPLACE "\n(    [^\n]*\\(\\.idata\\$${part}\\))" "\n${KEST_LD_MARK}\n\\1"
           KEST_LD_IMPORTS "${KEST_LD_IMPORTS}")
    string(FIND "${KEST_LD_IMPORTS}" "${KEST_LD_MARK}" KEST_LD_MARK_AT)
    if(KEST_LD_MARK_AT LESS 0)
        message(FATAL_ERROR "${CMAKE_LINKER}'s default script places no .idata$${part} as expected")
    endif()
endforeach()
string(REPLACE "${KEST_LD_RDATA_END}" "    __rt_psrelocs_end = .;\n    . = ALIGN(4);\n${KEST_LD_IMPORTS}  }\n"
       KEST_LD_SCRIPT "${KEST_LD_SCRIPT}")
set(KEST_STUB_SCRIPT ${CMAKE_BINARY_DIR}/kestsetup.ld)
file(WRITE ${KEST_STUB_SCRIPT} "${KEST_LD_SCRIPT}\n")

add_executable(kestsetup WIN32 ${KEST_STUB_SOURCES} ui/kest.rc)
target_include_directories(kestsetup PRIVATE ${CMAKE_SOURCE_DIR})
# USER32's routines, called from many places, are called through the
# import library's jump stubs rather than through the import table: a
# direct call needs no base relocation, and the calls' relocations cost more
# than the stubs do.
target_compile_definitions(kestsetup PRIVATE WINVER=0x0400 _WIN32_WINNT=0x0400
    WIN32_LEAN_AND_MEAN WINUSERAPI=)
target_compile_options(kestsetup PRIVATE ${KEST_STUB_FLAGS} ${KEST_ARCH_COMPILE_OPTIONS})
target_link_options(kestsetup PRIVATE
    -nostdlib -s -flto -Oz
    ${KEST_ARCH_LINK_OPTIONS}
    -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--gc-sections
    -Wl,-T,${KEST_STUB_SCRIPT}
    # CMake hands a .def file to the linker only for libraries.
    ${KEST_STUB_DEF})
target_link_libraries(kestsetup PRIVATE kernel32 user32 gdi32 advapi32 shell32 gcc)
set_target_properties(kestsetup PROPERTIES
    LINK_DEPENDS "${KEST_STUB_DEF};${KEST_STUB_SCRIPT}"
    OUTPUT_NAME ${KEST_STUB_NAME} SUFFIX .exe
    RUNTIME_OUTPUT_DIRECTORY ${KEST_BIN})

# The icon and the animation clip are drawn at build time from ui/media.py,
# which also compacts the manifest; the resource script finds them through
# the include path.
find_program(KEST_PYTHON NAMES python3 HINTS /usr/bin REQUIRED)
set(KEST_MEDIA_DIR ${CMAKE_BINARY_DIR}/media)
set(KEST_MEDIA ${KEST_MEDIA_DIR}/kest.ico ${KEST_MEDIA_DIR}/kest.avi
    ${KEST_MEDIA_DIR}/kest.manifest)
add_custom_command(OUTPUT ${KEST_MEDIA}
    COMMAND ${KEST_PYTHON} ${CMAKE_SOURCE_DIR}/ui/media.py ${KEST_MEDIA_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/ui/media.py ${CMAKE_SOURCE_DIR}/ui/kest.manifest
    COMMENT "Drawing the icon and the animation clip, compacting the manifest")
add_custom_target(kest_media DEPENDS ${KEST_MEDIA})
# The resource script also takes the version from the generated header.
set(KEST_RC_DEPENDS ${KEST_MEDIA} ${KEST_GENERATED}/kest_version.h)
set_source_files_properties(ui/kest.rc PROPERTIES OBJECT_DEPENDS "${KEST_RC_DEPENDS}")
add_dependencies(kestsetup kest_media)
set(CMAKE_RC_FLAGS "-I${CMAKE_SOURCE_DIR} -I${KEST_MEDIA_DIR} -I${KEST_GENERATED} -l 0x409")
# CMake hands the MinGW linker its default C++ runtime and startup files.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
