# Runs run-clang-tidy over the files of a build tree's compile database whose path matches
# FILES, with CHECKS after the checks of .clang-tidy, HEADERS as the header filter and
# EXTRA_ARG added to each compile command:
#   cmake -DRUN_CLANG_TIDY=... -DBUILD_DIR=... -DFILES=<regex> [-DCHECKS=...] [-DHEADERS=<regex>]
#         [-DEXTRA_ARG=...] [-DJOBS=2] -P clang-tidy.cmake
# The tests are compiled with GCC's precompiled headers, which clang cannot read, and clang
# takes the .gch beside a header named by -include in place of its text. So clang-tidy reads
# a copy of the database in which each precompiled header is named by a copy of its text in
# a folder of its own, where no .gch lies beside it.
foreach(var RUN_CLANG_TIDY BUILD_DIR FILES)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "clang-tidy.cmake needs -D${var}=...")
    endif()
endforeach()
if(NOT DEFINED JOBS)
    set(JOBS 2)
endif()

set(tidy_dir "${BUILD_DIR}/tidy")
file(READ "${BUILD_DIR}/compile_commands.json" database)
string(REGEX MATCHALL "-include [^ \"]*/cmake_pch\\.hxx" includes "${database}")
list(REMOVE_DUPLICATES includes)
foreach(include IN LISTS includes)
    string(REGEX REPLACE "^-include " "" header "${include}")
    get_filename_component(owner "${header}" DIRECTORY)
    get_filename_component(owner "${owner}" NAME)
    file(MAKE_DIRECTORY "${tidy_dir}/${owner}")
    file(COPY_FILE "${header}" "${tidy_dir}/${owner}/cmake_pch.hxx" ONLY_IF_DIFFERENT)
    string(REPLACE "${include}" "-include ${tidy_dir}/${owner}/cmake_pch.hxx" database
           "${database}")
endforeach()
string(REPLACE "-Winvalid-pch " "" database "${database}")
file(WRITE "${tidy_dir}/compile_commands.json.new" "${database}")
file(COPY_FILE "${tidy_dir}/compile_commands.json.new" "${tidy_dir}/compile_commands.json"
     ONLY_IF_DIFFERENT)

set(arguments -quiet -j ${JOBS} -p "${tidy_dir}")
if(CHECKS)
    list(APPEND arguments "-checks=${CHECKS}")
endif()
if(HEADERS)
    list(APPEND arguments "-header-filter=${HEADERS}")
endif()
if(EXTRA_ARG)
    list(APPEND arguments "-extra-arg=${EXTRA_ARG}")
endif()
execute_process(COMMAND "${RUN_CLANG_TIDY}" ${arguments} "${FILES}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "clang-tidy found something (exit status ${status})")
endif()
