# What the whole tree and the service built alone (cmake -S service) share: the language, where
# programs go, ccache, the options, warnings, sanitizers and Debian's hardening flags. Included
# right after project().
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Rebuilds in a second checkout reuse what the first compiled, when ccache is there.
find_program(TUNALO_CCACHE ccache)
if(TUNALO_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${TUNALO_CCACHE})
endif()

option(TUNALO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TUNALO_BUILD_TESTS "Build the tests" ON)
option(TUNALO_BUILD_BENCH "Build the benchmarks" ON)

# Our own code builds warning-free; every target of ours links this.
add_library(tunalo_warnings INTERFACE)
target_compile_options(tunalo_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
if(TUNALO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Everything is built the way Debian builds its packages, with the hardening flags that
# dpkg-buildflags gives (fortified functions, stack protector, read-only relocations, immediate
# binding), so the tests run what the package ships. Debugging information, the optimisation level
# and the source path stay the build's own. The fortified functions need an optimised build, and
# the sanitizers check memory themselves.
option(TUNALO_HARDENING "Build with Debian's hardening flags from dpkg-buildflags" ON)
find_program(TUNALO_DPKG_BUILDFLAGS dpkg-buildflags)
if(TUNALO_HARDENING AND TUNALO_DPKG_BUILDFLAGS AND NOT TUNALO_SANITIZE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${TUNALO_DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^(-g.*|-O.*|-ffile-prefix-map=.*)$")
        if(kind STREQUAL "LDFLAGS")
            add_link_options(${flags})
        else()
            add_compile_options(${flags})
        endif()
    endforeach()
endif()

find_package(PkgConfig REQUIRED)
if(TUNALO_BUILD_TESTS)
    enable_testing()
endif()
