# GoogleTest: Debian's packaged library natively; compiled from Debian's sources
# (/usr/src/googletest) for the cross build. Nothing is downloaded.
if(CMAKE_CROSSCOMPILING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    add_library(veltrane_gtest INTERFACE)
    target_link_libraries(veltrane_gtest INTERFACE gtest gtest_main)
else()
    find_package(GTest REQUIRED)
    add_library(veltrane_gtest INTERFACE)
    target_link_libraries(veltrane_gtest INTERFACE GTest::gtest GTest::gtest_main)
endif()
include(GoogleTest)

# Registers a GoogleTest program with CTest. Native programs get one CTest entry per
# test; programs that run under Wine get one entry each, so that listing the tests
# does not start Wine at build time.
function(veltrane_add_gtest target)
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${target} COMMAND ${target})
    else()
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30)
    endif()
endfunction()
