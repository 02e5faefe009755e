# Sanitizers apply to the whole tree (mixing instrumented and plain code breaks TSan).
if(QUILL_SANITIZE)
    string(REPLACE ";" "," _quill_san "${QUILL_SANITIZE}")
    add_compile_options(-fsanitize=${_quill_san} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_quill_san})
    if("undefined" IN_LIST QUILL_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
