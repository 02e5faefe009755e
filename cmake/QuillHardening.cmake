# Debian's hardening flags, as dpkg-buildflags gives them with every hardening feature on:
# fortified string and I/O functions, the stack protector, stack clash protection, and
# relocations made read-only and bound at start (relro, bind-now). Only those flags are
# taken; optimisation and debug information stay the build type's. Trees with sanitizers
# or fuzzers are left without them, as their instrumentation does the checking there.
option(QUILL_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ON)
if(QUILL_HARDENING AND NOT QUILL_SANITIZE AND NOT QUILL_FUZZ)
    find_program(QUILL_DPKG_BUILDFLAGS dpkg-buildflags)
    if(QUILL_DPKG_BUILDFLAGS)
        set(_quill_compile)
        set(_quill_link)
        foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(
                COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                        ${QUILL_DPKG_BUILDFLAGS} --get ${kind}
                OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            separate_arguments(_flags UNIX_COMMAND "${_flags}")
            foreach(flag IN LISTS _flags)
                if(flag MATCHES "^-Wl,-z,(relro|now)$")
                    list(APPEND _quill_link ${flag})
                elseif(flag MATCHES "^(-D_FORTIFY_SOURCE=[0-9]|-fstack-protector|-fstack-clash-protection|-fcf-protection|-Wformat|-Werror=format-security)")
                    list(APPEND _quill_compile ${flag})
                endif()
            endforeach()
        endforeach()
        list(REMOVE_DUPLICATES _quill_compile)
        foreach(flag IN LISTS _quill_compile)
            if(flag MATCHES "^-D_FORTIFY_SOURCE")
                # Fortification needs optimisation; glibc warns without it.
                add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>")
            else()
                add_compile_options(${flag})
            endif()
        endforeach()
        add_link_options(${_quill_link})
        message(STATUS "Hardening: ${_quill_compile} ${_quill_link}")
    endif()
endif()
