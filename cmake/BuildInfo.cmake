# Run at every build (cmake -P): writes the commit the program is built from
# into a header, touching it only when the commit changed. A tree without
# git (a source archive) names its commit with VELMARUNE_COMMIT in the
# environment, or through archive-commit.txt, which `git archive` fills in.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=10 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    set(commit "$ENV{VELMARUNE_COMMIT}")
    if(commit STREQUAL "")
        file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/archive-commit.txt" archived LIMIT_COUNT 1)
        if(NOT archived MATCHES "^\\$Format")
            set(commit "${archived}")
        endif()
    endif()
endif()
file(WRITE "${OUTPUT}.new"
    "#pragma once\n#define VELMARUNE_BUILD_VERSION \"${VERSION}\"\n#define VELMARUNE_BUILD_COMMIT \"${commit}\"\n")
configure_file("${OUTPUT}.new" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.new")
