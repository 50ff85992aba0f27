# Native build: the unit tests of the pure logic under AddressSanitizer and
# UBSan, and the packer.
enable_testing()
find_package(GTest REQUIRED)

set(KEST_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

# What users run is optimised, without debug information or sanitizers,
# whatever CMAKE_BUILD_TYPE the tree was configured with (the top-level
# Makefile asks for Debug, for the unit tests' sake): -g0 and -s come after
# the build type's -g and win.
set(KEST_RELEASE -O2 -g0 -DNDEBUG)

add_library(kestpure STATIC ${KEST_PURE_SOURCES})
target_include_directories(kestpure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kestpure PRIVATE -Wall -Wextra ${KEST_RELEASE})

add_library(kestpure_checked STATIC ${KEST_PURE_SOURCES})
target_include_directories(kestpure_checked PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kestpure_checked PRIVATE -Wall -Wextra -g ${KEST_SANITIZE})

file(GLOB KEST_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(kest_unit ${KEST_UNIT_SOURCES})
target_compile_options(kest_unit PRIVATE -g ${KEST_SANITIZE})
target_link_options(kest_unit PRIVATE ${KEST_SANITIZE})
# OpenSSL's SHA-256 is the reference the program's own is checked against;
# only the tests link it.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(kest_unit PRIVATE kestpure_checked GTest::gtest_main OpenSSL::Crypto)
# Where the tests find the sample product's source, and keep what they make.
target_compile_definitions(kest_unit PRIVATE KEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
include(GoogleTest)
gtest_discover_tests(kest_unit)

# kestpack: on the pure payload code.
add_library(kestpack_core STATIC ${KEST_PACK_SOURCES})
target_link_libraries(kestpack_core PUBLIC kestpure)
target_compile_options(kestpack_core PRIVATE -Wall -Wextra ${KEST_RELEASE})

add_executable(kestpack pack/main.cpp)
target_include_directories(kestpack PRIVATE ${KEST_GENERATED})
target_link_libraries(kestpack PRIVATE kestpack_core)
target_compile_options(kestpack PRIVATE -Wall -Wextra ${KEST_RELEASE})
# Linked statically, so that the released program runs on other
# distributions than the one it was built on.
target_link_options(kestpack PRIVATE -s -static)
set_target_properties(kestpack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KEST_BIN})

# The same sources under the sanitizers for the unit tests.
add_library(kestpack_checked STATIC ${KEST_PACK_SOURCES})
target_link_libraries(kestpack_checked PUBLIC kestpure_checked)
target_compile_options(kestpack_checked PRIVATE -Wall -Wextra -g ${KEST_SANITIZE})
target_link_libraries(kest_unit PRIVATE kestpack_checked)
