# Debian's header-only libraries (CLI11, nlohmann/json) for veltrane-cli. The cross compiler
# must not see /usr/include as a whole (its C library headers are Linux's), so both builds take
# each header folder through one folder of links made in the build tree, and nothing else.
set(VELTRANE_CLI11_DIR /usr/include/CLI CACHE PATH "CLI11 headers (Debian: libcli11-dev)")
set(VELTRANE_NLOHMANN_JSON_DIR /usr/include/nlohmann CACHE PATH "nlohmann/json headers (Debian: nlohmann-json3-dev)")
set(VELTRANE_THIRD_PARTY_INCLUDE ${PROJECT_BINARY_DIR}/third_party_include)

# Links each "name|folder|probe" into the folder of links, after checking that folder/probe exists.
function(veltrane_third_party_headers)
    foreach(pair IN LISTS ARGN)
        string(REPLACE "|" ";" pair "${pair}")
        list(GET pair 0 name)
        list(GET pair 1 folder)
        list(GET pair 2 probe)
        if(NOT EXISTS ${folder}/${probe})
            message(FATAL_ERROR "veltrane-cli needs ${folder}/${probe}: install libcli11-dev and nlohmann-json3-dev")
        endif()
        file(MAKE_DIRECTORY ${VELTRANE_THIRD_PARTY_INCLUDE})
        file(CREATE_LINK ${folder} ${VELTRANE_THIRD_PARTY_INCLUDE}/${name} SYMBOLIC)
    endforeach()
endfunction()
