# quill_add_language(<CODE>): builds the language package lang/<CODE> into the module
# <executable>_<CODE>.dll beside the executable. The module carries a compiled Qt resource
# bundle rooted at :/lang/<CODE>; the bundle registers itself when the module is loaded and
# unregisters when it is unloaded. Files in lang/common (icons, cursors, the toolbar and
# accelerator tables) are part of every package unless the language folder has its own file
# of the same name, so a translator copies lang/EN, changes the texts and is done.
set(QUILL_EXECUTABLE_NAME "quillstream" CACHE STRING "File name of the program's executable")
set(_quill_language_entry "${CMAKE_CURRENT_LIST_DIR}/../lang/PackageEntry.cpp")

function(quill_add_language code)
    if(NOT code MATCHES "^[A-Za-z0-9-]+$")
        message(FATAL_ERROR "Language code '${code}' may hold only letters, digits and '-'")
    endif()
    set(langRoot "${PROJECT_SOURCE_DIR}/lang")
    set(own "${langRoot}/${code}")
    set(common "${langRoot}/common")

    file(GLOB_RECURSE ownFiles RELATIVE "${own}" CONFIGURE_DEPENDS "${own}/*")
    file(GLOB_RECURSE commonFiles RELATIVE "${common}" CONFIGURE_DEPENDS "${common}/*")
    list(FILTER ownFiles EXCLUDE REGEX "(^|/)(README|.*\\.md$|\\.)")
    list(FILTER commonFiles EXCLUDE REGEX "(^|/)(README|.*\\.md$|\\.)")

    set(qrc "<RCC>\n  <qresource prefix=\"/lang/${code}\">\n")
    foreach(f IN LISTS ownFiles)
        string(APPEND qrc "    <file alias=\"${f}\">${own}/${f}</file>\n")
    endforeach()
    foreach(f IN LISTS commonFiles)
        if(NOT f IN_LIST ownFiles)
            string(APPEND qrc "    <file alias=\"${f}\">${common}/${f}</file>\n")
        endif()
    endforeach()
    string(APPEND qrc "  </qresource>\n</RCC>\n")

    # Rewritten only when the file list changes, so a reconfigure does not rebuild packages.
    set(qrcFile "${CMAKE_CURRENT_BINARY_DIR}/quill_lang_${code}.qrc")
    file(CONFIGURE OUTPUT "${qrcFile}" CONTENT "${qrc}" @ONLY)

    set(target quill_lang_${code})
    qt6_add_resources(resourceSources "${qrcFile}")
    add_library(${target} MODULE "${_quill_language_entry}" ${resourceSources})
    target_compile_definitions(${target} PRIVATE QUILL_LANGUAGE_CODE="${code}")
    target_link_libraries(${target} PRIVATE Qt6::Core quill_warnings)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
    # Hidden symbols keep two packages loaded side by side from resolving into each other.
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX ".dll"
        OUTPUT_NAME "${QUILL_EXECUTABLE_NAME}_${code}"
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        AUTOMOC OFF)
    # Loaded with dlopen, never run: no execute bits.
    install(TARGETS ${target} LIBRARY DESTINATION "${QUILL_PACKAGE_INSTALL_DIR}"
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    set_property(GLOBAL APPEND PROPERTY QUILL_LANGUAGE_TARGETS ${target})
    set_property(GLOBAL APPEND PROPERTY QUILL_LANGUAGE_CODES ${code})
endfunction()
