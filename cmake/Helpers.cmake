# A static library made of every .cpp in the given folders (relative to the
# calling directory). Folders come and go with the code, so new files need no
# edit here.
function(velmarune_glob_sources out)
    set(result)
    foreach(dir IN LISTS ARGN)
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
        list(APPEND result ${found})
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()
