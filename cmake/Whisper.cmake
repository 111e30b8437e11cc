# whisper.cpp (with ggml): an installed whisper is used when the system has
# one; otherwise the pinned npm package is fetched into a cache outside the
# checkout (scripts/fetch-whisper) and built here as static libraries.
# Provides the target `velmarune::whisper`.
option(VELMARUNE_SYSTEM_WHISPER "Use a whisper.cpp installed on the system when one is found" ON)
option(VELMARUNE_WHISPER_PORTABLE
    "Build ggml for a common x86-64 baseline (AVX2/FMA) instead of this machine's CPU (packages, valgrind)" OFF)
option(VELMARUNE_WHISPER_CPU_VARIANTS
    "Build ggml's CPU backend once per x86-64 feature level as loadable modules; the best one for the running CPU is picked at start (packages)" OFF)
option(VELMARUNE_WHISPER_CUDA "Build ggml's CUDA backend (set CMAKE_CUDA_ARCHITECTURES when no GPU is present)" OFF)
option(VELMARUNE_WHISPER_VULKAN
    "Build ggml's Vulkan backend: decoding on AMD, Intel and NVIDIA GPUs, falling back to the CPU (scripts/install-deps --vulkan)" OFF)
option(VELMARUNE_WHISPER_CLI "Also build whisper.cpp's own whisper-cli (for the overhead benchmark)" ${VELMARUNE_BUILD_BENCH})

# Where the shared whisper, ggml and ggml's CPU modules go when they are
# modules (VELMARUNE_WHISPER_CPU_VARIANTS): a folder of
# their own, under the install prefix and in the build tree.
# Installed under the library folder (lib/<multiarch>/velmarune in /usr on
# Debian, which is where a package keeps private libraries).
include(GNUInstallDirs)
set(VELMARUNE_PRIVATE_LIB_SUBDIR "${CMAKE_INSTALL_LIBDIR}/velmarune")
# whisper's CMake puts its libraries in the build tree's bin/.
set(VELMARUNE_BUILD_PRIVATE_LIB_DIR "${CMAKE_BINARY_DIR}/bin")

if(VELMARUNE_SYSTEM_WHISPER)
    find_package(whisper QUIET)
endif()

if(whisper_FOUND AND TARGET whisper)
    message(STATUS "whisper.cpp: using the installed library (${whisper_DIR})")
    add_library(velmarune::whisper ALIAS whisper)
    set(VELMARUNE_WHISPER_CLI OFF)
    return()
endif()

execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-whisper
    OUTPUT_VARIABLE VELMARUNE_WHISPER_SOURCE_DIR
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE fetch_rc)
if(NOT fetch_rc EQUAL 0 OR NOT EXISTS "${VELMARUNE_WHISPER_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "scripts/fetch-whisper could not provide whisper.cpp (see above)")
endif()
message(STATUS "whisper.cpp: building from ${VELMARUNE_WHISPER_SOURCE_DIR}")

# A function so that the settings below stay in whisper's own directory scope
# and never reach our targets.
function(velmarune_add_whisper source_dir)
    # whisper's CMake predates option() honouring plain variables.
    set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
    set(BUILD_SHARED_LIBS OFF)
    set(WHISPER_BUILD_TESTS OFF)
    set(WHISPER_BUILD_EXAMPLES ${VELMARUNE_WHISPER_CLI})
    set(WHISPER_BUILD_SERVER OFF)
    set(WHISPER_ALL_WARNINGS OFF)
    set(GGML_ALL_WARNINGS OFF)
    set(GGML_CCACHE OFF)
    set(GGML_CUDA ${VELMARUNE_WHISPER_CUDA})
    set(GGML_VULKAN ${VELMARUNE_WHISPER_VULKAN})
    if(VELMARUNE_WHISPER_PORTABLE)
        set(GGML_NATIVE OFF)
    endif()
    if(VELMARUNE_WHISPER_CPU_VARIANTS)
        # ggml loads its backends with dlopen only when they are shared
        # modules, and those need whisper and ggml-base shared too. They all
        # live in one private folder, where the program looks for them.
        set(BUILD_SHARED_LIBS ON)
        set(GGML_NATIVE OFF)
        set(GGML_BACKEND_DL ON)
        set(GGML_CPU_ALL_VARIANTS ON)
        set(CMAKE_INSTALL_RPATH "$ORIGIN")
    endif()
    # Our install rules pick what the program needs from whisper; its own
    # rules would add headers, static libraries and CMake files.
    set(CMAKE_SKIP_INSTALL_RULES ON)
    # Decoding at -O0 is unusably slow: whisper and ggml stay optimised in a
    # Debug build of ours.
    set(CMAKE_C_FLAGS_DEBUG "-O2 -g0")
    set(CMAKE_CXX_FLAGS_DEBUG "-O2 -g0")
    add_subdirectory(${source_dir} ${CMAKE_BINARY_DIR}/_deps/whisper EXCLUDE_FROM_ALL SYSTEM)
endfunction()
velmarune_add_whisper(${VELMARUNE_WHISPER_SOURCE_DIR})

if(VELMARUNE_WHISPER_VULKAN AND TARGET ggml-vulkan)
    find_file(VELMARUNE_VULKAN_CORE_H vulkan/vulkan_core.h)
    file(STRINGS "${VELMARUNE_VULKAN_CORE_H}" vulkan_header_version
         REGEX "^#define VK_HEADER_VERSION [0-9]+")
    string(REGEX MATCH "[0-9]+$" vulkan_header_version "${vulkan_header_version}")
    if(vulkan_header_version LESS 261)
        message(STATUS "Vulkan headers ${vulkan_header_version}: adding VK_EXT_layer_settings for ggml")
        set_source_files_properties(${VELMARUNE_WHISPER_SOURCE_DIR}/ggml/src/ggml-vulkan/ggml-vulkan.cpp
            DIRECTORY ${VELMARUNE_WHISPER_SOURCE_DIR}/ggml/src/ggml-vulkan
            PROPERTIES COMPILE_OPTIONS "-include;${PROJECT_SOURCE_DIR}/cmake/VulkanLayerSettingsCompat.hpp")
    endif()
endif()

add_library(velmarune::whisper ALIAS whisper)
