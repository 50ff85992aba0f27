# The fuzzers: libFuzzer under AddressSanitizer and UBSan, one program per
# parser of untrusted input, on the same pure sources and kestpack sources
# that the stub and the packer are built from. Needs clang.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "the fuzzers need clang++ (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
endif()

# The code under test gets the coverage hooks without libFuzzer's main;
# each fuzzer program links libFuzzer itself.
set(KEST_FUZZ_SANITIZE address,undefined)
set(KEST_FUZZ_CODE -g -O1 -fno-omit-frame-pointer -fno-sanitize-recover=all
    -fsanitize=fuzzer-no-link,${KEST_FUZZ_SANITIZE})

add_library(kestfuzz_code STATIC ${KEST_PURE_SOURCES} ${KEST_PACK_SOURCES})
target_include_directories(kestfuzz_code PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kestfuzz_code PRIVATE -Wall -Wextra ${KEST_FUZZ_CODE})

file(GLOB KEST_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(source ${KEST_FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -Wall -Wextra ${KEST_FUZZ_CODE})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,${KEST_FUZZ_SANITIZE})
    target_link_libraries(${name} PRIVATE kestfuzz_code)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endforeach()
