# Sanitizers apply to the whole tree (mixing instrumented and plain code breaks TSan).
if(QUILL_SANITIZE)
    string(REPLACE ";" "," _quill_san "${QUILL_SANITIZE}")
    # Line tables are all a sanitizer's report needs (functions, files, lines): full debug
    # information would cost a third more processor time to build both sanitizer trees.
    add_compile_options(-fsanitize=${_quill_san} -fno-omit-frame-pointer -g1)
    add_link_options(-fsanitize=${_quill_san})
    if("undefined" IN_LIST QUILL_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
