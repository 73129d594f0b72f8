# Run at build time by vorta_carry_blobs:
#   cmake -DOUTPUT=<header> -P CarriedBlobDigests.cmake -- <FILE>...
# Writes a header that defines VORTA_CARRIED_<n>_SHA256 as the SHA-256 (64 lowercase hexadecimal
# digits) of the n-th FILE, the blob as it is linked into the executable. The tool compares what
# it unpacks at start with these, so a damaged copy of it never sends damaged firmware.
set(files "")
set(collect OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 0 ${last})
    if(collect)
        list(APPEND files "${CMAKE_ARGV${i}}")
    elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
        set(collect ON)
    endif()
endforeach()
if(NOT OUTPUT OR NOT files)
    message(FATAL_ERROR "usage: cmake -DOUTPUT=<header> -P CarriedBlobDigests.cmake -- <FILE>...")
endif()

string(CONCAT text "// Generated at build time by cmake/CarriedBlobDigests.cmake from the "
                   "carried files.\n#pragma once\n")
set(index 0)
foreach(file IN LISTS files)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "carried file ${file} does not exist")
    endif()
    file(SHA256 "${file}" digest)
    string(APPEND text "#define VORTA_CARRIED_${index}_SHA256 \"${digest}\"  // ${file}\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
