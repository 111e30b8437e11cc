# Run at every build (cmake -P): writes the commit the program is built from
# into a header, touching it only when the commit changed. A tree without
# git (a source archive) may name its commit with VELMARUNE_COMMIT in the
# environment; otherwise the build names none.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=10 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    set(commit "$ENV{VELMARUNE_COMMIT}")
endif()
file(WRITE "${OUTPUT}.new"
    "#pragma once\n#define VELMARUNE_BUILD_VERSION \"${VERSION}\"\n#define VELMARUNE_BUILD_COMMIT \"${commit}\"\n")
configure_file("${OUTPUT}.new" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.new")
