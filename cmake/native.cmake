# Native build: the unit tests of the pure logic under AddressSanitizer and
# UBSan, and the packer.
enable_testing()
find_package(GTest REQUIRED)

set(KEST_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(kestpure STATIC ${KEST_PURE_SOURCES})
target_include_directories(kestpure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kestpure PRIVATE -Wall -Wextra)

add_library(kestpure_checked STATIC ${KEST_PURE_SOURCES})
target_include_directories(kestpure_checked PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kestpure_checked PRIVATE -Wall -Wextra -g ${KEST_SANITIZE})

file(GLOB KEST_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(kest_unit ${KEST_UNIT_SOURCES})
target_compile_options(kest_unit PRIVATE -g ${KEST_SANITIZE})
target_link_options(kest_unit PRIVATE ${KEST_SANITIZE})
target_link_libraries(kest_unit PRIVATE kestpure_checked GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(kest_unit)
