// The end-to-end tests' entry: GoogleTest options, then the path of Veltrane.exe.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app_driver.h"

std::string programPath;

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrane_e2e [gtest options] <path of Veltrane.exe>\n");
        return 2;
    }
    programPath = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
