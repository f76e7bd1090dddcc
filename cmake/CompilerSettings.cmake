# Warnings for every target of the project, and the optional sanitizer build.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-Wall -Wextra -Wpedantic)
    if(NMCT_WERROR)
        add_compile_options(-Werror)
    endif()
    if(NMCT_SANITIZE)
        string(REPLACE ";" "," _nmct_sanitizers "${NMCT_SANITIZE}")
        add_compile_options(-fsanitize=${_nmct_sanitizers} -fno-omit-frame-pointer
                            -fno-sanitize-recover=all)
        add_link_options(-fsanitize=${_nmct_sanitizers})
    endif()
endif()
