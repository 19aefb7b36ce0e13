# Settings every Tidemarsh target shares: warnings as errors, strict Qt defines,
# optional sanitizers. Every library and executable links tidemarsh_common.
add_library(tidemarsh_common INTERFACE)
target_compile_options(tidemarsh_common INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wno-error=deprecated-declarations)
target_compile_definitions(tidemarsh_common INTERFACE
    QT_NO_KEYWORDS
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)
if(TIDEMARSH_SANITIZE)
    target_compile_options(tidemarsh_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tidemarsh_common INTERFACE -fsanitize=address,undefined)
endif()
if(TIDEMARSH_TSAN)
    if(TIDEMARSH_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: pick one build")
    endif()
    target_compile_options(tidemarsh_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(tidemarsh_common INTERFACE -fsanitize=thread)
endif()

# What every test process gets from the sanitizers: leak detection with the
# suppressions for what the libraries keep for the life of the process, and
# ThreadSanitizer reporting every race it sees (a report fails the test at exit).
# die_after_fork=0: QProcess's child execs at once, yet ThreadSanitizer would
# refuse the next thread the parent starts after it.
set(TIDEMARSH_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp:print_suppressions=0"
    "TSAN_OPTIONS=second_deadlock_stack=1:die_after_fork=0:suppressions=${PROJECT_SOURCE_DIR}/tests/support/tsan.supp")

# tidemarsh_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l] [FIXTURES f] [TIMEOUT s])
# One QtTest executable per call, registered with CTest. Tests run without a screen
# (offscreen platform) and with a private runtime folder so Qt stays quiet.
function(tidemarsh_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE tidemarsh_common Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    # No session bus unless the test starts its own: nothing may reach the
    # user's keyring or desktop services.
    set(env
        QT_QPA_PLATFORM=offscreen
        DBUS_SESSION_BUS_ADDRESS=disabled:
        XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime
        TIDEMARSH_SOURCE_DIR=${PROJECT_SOURCE_DIR}
        TIDEMARSH_BINARY_DIR=${CMAKE_BINARY_DIR}
        ${TIDEMARSH_SANITIZER_ENV}
        ${T_ENVIRONMENT})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_FIXTURES)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    if(T_TIMEOUT)
        set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    else()
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    endif()
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xdg-runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/xdg-runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# tidemarsh_add_library(NAME SOURCES file... [PUBLIC libs...] [PRIVATE libs...])
# A STATIC library of the listed sources. Includes name their folder under src
# ("pop3/session.h"), so the include directory is src for every library.
function(tidemarsh_add_library name)
    cmake_parse_arguments(L "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC tidemarsh_common ${L_PUBLIC} PRIVATE ${L_PRIVATE})
endfunction()

# Adds every sub-folder of the calling folder that has a CMakeLists.txt, so a new
# benchmark or test-support folder registers itself.
function(tidemarsh_add_subfolders)
    file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(dir IN LISTS entries)
        if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()
