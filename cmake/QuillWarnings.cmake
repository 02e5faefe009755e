# Warnings every target of ours is built with; link it privately.
add_library(quill_warnings INTERFACE)
target_compile_options(quill_warnings INTERFACE -Wall -Wextra -Wshadow)
if(QUILL_WERROR)
    target_compile_options(quill_warnings INTERFACE -Werror)
endif()
