# Warnings every target of ours is built with; link it privately.
add_library(quill_warnings INTERFACE)
target_compile_options(quill_warnings INTERFACE -Wall -Wextra -Wshadow)
if(QUILL_WERROR)
    target_compile_options(quill_warnings INTERFACE -Werror)
endif()

# quill_core_library(<name> <sources...> [DEPENDS <libs...>]): a Qt-free static library of
# the core, warnings on, include paths rooted at the repository.
function(quill_core_library name)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE quill_warnings)
endfunction()
