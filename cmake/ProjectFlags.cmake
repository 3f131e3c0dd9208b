# Warnings are errors on both platforms; sanitizers only natively, where they are cheap.
option(SCOUR_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(scour_target_flags target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor
        -Woverloaded-virtual -Wformat=2 -Wcast-align -Wimplicit-fallthrough)
    if(WIN32)
        target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                   _WIN32_WINNT=0x0601)
    endif()
endfunction()

if(SCOUR_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build (clang): every library gets libFuzzer's coverage hooks and the
# sanitizers; only the fuzz programs link libFuzzer's main (tests/fuzz).
option(SCOUR_FUZZ "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)
if(SCOUR_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "SCOUR_FUZZ needs clang (tools/fuzz.sh chooses it)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
    # No DLL has to sit beside the executables.
    add_link_options(-static -static-libgcc -static-libstdc++)
endif()
