# `cmake --build <dir> --target format` applies .clang-format to the C++ sources git tracks.
# Included from the top-level CMakeLists.txt, this file defines the target; the target runs it
# again as a script (cmake -P) to do the work, so the file list is taken when it runs.
if(CMAKE_SCRIPT_MODE_FILE)
    execute_process(COMMAND ${NMCT_GIT} ls-files -- "*.cpp" "*.h"
        WORKING_DIRECTORY ${NMCT_SOURCE_DIR}
        OUTPUT_VARIABLE _files OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" _files "${_files}")
    execute_process(COMMAND ${NMCT_CLANG_FORMAT} -i --style=file ${_files}
        WORKING_DIRECTORY ${NMCT_SOURCE_DIR}
        COMMAND_ERROR_IS_FATAL ANY)
    return()
endif()

find_program(NMCT_CLANG_FORMAT NAMES clang-format clang-format-14)
find_package(Git QUIET)
if(NMCT_CLANG_FORMAT AND Git_FOUND)
    add_custom_target(format
        COMMAND ${CMAKE_COMMAND} -DNMCT_SOURCE_DIR=${PROJECT_SOURCE_DIR}
                -DNMCT_CLANG_FORMAT=${NMCT_CLANG_FORMAT}
                -DNMCT_GIT=${GIT_EXECUTABLE} -P ${CMAKE_CURRENT_LIST_FILE}
        COMMENT "Applying .clang-format to the tracked C++ sources"
        VERBATIM)
endif()
