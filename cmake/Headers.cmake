# nmct_headers(<target> [PUBLIC <headers...>] [PRIVATE <headers...>])
#
# Says which headers of <target>, a library of the current folder, others may include (PUBLIC)
# and which only its own sources may (PRIVATE). Headers are named as in the folder's source list
# and included by their path from the source root ("serial/Comm.h").
#
# Each target gets include roots of its own in the build tree, holding links to just those
# headers: its sources see its own headers and the PUBLIC ones of what it links, and nothing
# else. So the build keeps the layers: a front end that includes the link, the component or the
# port layer, or a library that reaches one it does not link, does not compile. Only tests,
# benchmarks and fuzz targets see the whole tree (their folders add the source root).
#
# An INTERFACE library takes PUBLIC headers only. Where the host cannot make symbolic links
# (Windows), the target sees the source root instead and the layers are kept by test_layers.
function(nmct_headers target)
    cmake_parse_arguments(H "" "" "PUBLIC;PRIVATE" ${ARGN})
    file(RELATIVE_PATH area ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    get_target_property(type ${target} TYPE)
    if(CMAKE_HOST_WIN32)
        if(type STREQUAL "INTERFACE_LIBRARY")
            target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
        else()
            target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
        endif()
        return()
    endif()

    set(public_root ${PROJECT_BINARY_DIR}/include/${target})
    set(own_root ${PROJECT_BINARY_DIR}/include/${target}-own)
    file(REMOVE_RECURSE ${public_root} ${own_root})
    foreach(header IN LISTS H_PUBLIC H_PRIVATE)
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
            message(FATAL_ERROR "nmct_headers(${target}): no header ${area}/${header}")
        endif()
        set(roots ${own_root})
        if(header IN_LIST H_PUBLIC)
            list(APPEND roots ${public_root})
        endif()
        foreach(root IN LISTS roots)
            get_filename_component(folder ${root}/${area}/${header} DIRECTORY)
            file(MAKE_DIRECTORY ${folder})
            file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${area}/${header}
                SYMBOLIC)
        endforeach()
    endforeach()
    file(MAKE_DIRECTORY ${public_root} ${own_root})
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${public_root})
    else()
        target_include_directories(${target} PUBLIC ${public_root} PRIVATE ${own_root})
    endif()
endfunction()
