# nmct_add_test(<name> SOURCES <files...> [LIBS <targets...>] [NOQT] [THREADED] [LONG]
#               [TIMEOUT <s>])
#
# One test executable registered with CTest. Qt tests link Qt Test and run on the offscreen
# platform. THREADED tests also join the `threaded_tests` target that the ThreadSanitizer build
# compiles, and carry the CTest label `threads`. LONG tests (whole-tool runs that take minutes)
# carry the label `long`, so `ctest -LE long` runs the quick tables alone.
#
# A failing test fails fast: TIMEOUT is a few times the test's run time in a plain build
# (default 30 s, for tests that take well under a second), three times that under the
# sanitizers, and Qt Test does not stop a crashed test to look for a debugger.
if(NOT TARGET threaded_tests)
    add_custom_target(threaded_tests)
endif()

function(nmct_add_test name)
    cmake_parse_arguments(T "NOQT;THREADED;LONG" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    if(NOT T_NOQT)
        target_link_libraries(${name} PRIVATE Qt6::Test)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 30)
    endif()
    if(NMCT_SANITIZE)
        math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
    endif()
    # The user's own port map never leads a test's COM names.
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_DISABLE_STACK_DUMP=1;XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/tests/no-config")
    if(T_THREADED)
        set_property(TEST ${name} APPEND PROPERTY LABELS threads)
        add_dependencies(threaded_tests ${name})
    endif()
    if(T_LONG)
        set_property(TEST ${name} APPEND PROPERTY LABELS long)
    endif()
endfunction()
