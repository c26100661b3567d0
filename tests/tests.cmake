# The test suite, run by CTest. Fixture cases are data: every database file in
# tests/files/PROGRAM/ and every record file in tests/crafted/PROGRAM/ becomes a
# test of its own, checked against the files of the same name beside it.

# Stand-in for the enumeration calls, preloaded for records no file can hold.
add_library(fake_accounts MODULE tests/fake_accounts.cpp)
# For the sanitizer build, where a write past a buffer shows: an mbrtowc that
# never ends a character, preloaded by a terminal row.
if(SANITIZE)
    add_library(mbrtowc_begun MODULE tests/mbrtowc_begun.cpp)
endif()

set(tests_dir ${CMAKE_CURRENT_SOURCE_DIR}/tests)

# After every run of ctest, the reasons of the tests that skipped, which ctest
# itself does not show.
file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake
    "set(CTEST_CUSTOM_POST_TEST [==[\"${tests_dir}/skip-reasons.sh\" \"${CMAKE_BINARY_DIR}\"]==])\n")

if(CMAKE_CROSSCOMPILING OR SANITIZE)
    set(program_tests_only ON)
endif()

# The locales that the terminal rows list in, made by localedef into a folder
# of the build's own (LOCPATH), so that nothing on the machine changes; in the
# target's byte order, which compiled locales keep: other character sets, and
# a Turkish locale, whose case rules differ from C's.
set(test_locales ${CMAKE_BINARY_DIR}/locales)
add_test(NAME locales
    COMMAND bash -c [=[
        folder=$1 byte_order=$2
        rm -rf "$folder"
        command -v localedef >/dev/null || { echo "skipped: localedef is not installed (Debian package libc-bin)"; exit 77; }
        if [[ ! -d /usr/share/i18n/charmaps ]]; then
            echo "skipped: the locale sources are not installed (Debian package locales)"
            exit 77
        fi
        order=--little-endian
        [[ $byte_order == BIG_ENDIAN ]] && order=--big-endian
        mkdir -p "$folder"
        # Side by side: GB18030's alone takes seconds.
        makers=()
        for locale in en_US.ISO-8859-1 vi_VN.CP1258 ja_JP.EUC-JP ja_JP.WINDOWS-31J zh_CN.GB2312 zh_TW.EUC-TW \
            zh_CN.GB18030 tr_TR.UTF-8; do
            localedef "$order" -i "${locale%.*}" -f "${locale#*.}" "$folder/$locale" &
            makers+=($!)
        done
        for maker in "${makers[@]}"; do
            wait "$maker" || exit 1
        done
    ]=] make-locales ${test_locales} ${CMAKE_CXX_BYTE_ORDER})
set_tests_properties(locales PROPERTIES FIXTURES_SETUP locales)

function(add_lister_tests program database)
    set(binary $<TARGET_FILE:${program}>)

    # CASE.out is the listing through the files backend alone; CASE.S1-S2.out
    # the listing through sources S1 then S2 (files, extrausers), where the
    # extrausers database is CASE.extrausers.
    file(GLOB fixtures CONFIGURE_DEPENDS ${tests_dir}/files/${program}/*.${database})
    foreach(fixture IN LISTS fixtures)
        get_filename_component(case ${fixture} NAME_WLE)
        get_filename_component(dir ${fixture} DIRECTORY)
        add_test(NAME ${program}.files.${case}
            COMMAND ${tests_dir}/check-files.sh ${binary} ${database} ${fixture} ${dir}/${case}.out)
        if(EXISTS ${dir}/${case}.tty)
            set_tests_properties(${program}.files.${case} PROPERTIES FIXTURES_REQUIRED locales)
        endif()
        file(GLOB ordered CONFIGURE_DEPENDS ${dir}/${case}.*.out)
        foreach(expected IN LISTS ordered)
            get_filename_component(order ${expected} NAME_WLE)
            string(REPLACE "${case}." "" order ${order})
            string(REPLACE "-" " " sources ${order})
            add_test(NAME ${program}.files.${case}.${order}
                COMMAND ${tests_dir}/check-files.sh ${binary} ${database} ${fixture} ${expected} "${sources}")
        endforeach()
    endforeach()

    file(GLOB record_files CONFIGURE_DEPENDS ${tests_dir}/crafted/${program}/*.records)
    foreach(records IN LISTS record_files)
        get_filename_component(case ${records} NAME_WLE)
        get_filename_component(dir ${records} DIRECTORY)
        add_test(NAME ${program}.crafted.${case}
            COMMAND ${tests_dir}/check-crafted.sh ${binary} $<TARGET_FILE:fake_accounts>
                    ${records} ${dir}/${case}.out ${dir}/${case}.err)
    endforeach()

    add_test(NAME ${program}.machine COMMAND ${tests_dir}/check-machine.sh ${binary} ${database})
    add_test(NAME ${program}.writes COMMAND ${tests_dir}/check-writes.sh ${binary} ${database})
    add_test(NAME ${program}.faults COMMAND ${tests_dir}/check-faults.sh ${binary} $<TARGET_FILE:fake_accounts>)
    if(SANITIZE)
        set(fortify_level sanitized)
    endif()
    add_test(NAME ${program}.binary
        COMMAND ${tests_dir}/check-binary.sh ${binary} ${fortify_level} "${CMAKE_CXX_COMPILER_ID} $<CONFIG>"
                ${cf_protection} ${stack_clash} $<TARGET_FILE:large-frame> ${CMAKE_OBJDUMP})
    if(NOT program_tests_only)
        add_test(NAME ${program}.manpage
            COMMAND ${tests_dir}/check-manpage.sh ${CMAKE_CURRENT_BINARY_DIR}/${program}.1
                    ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
    endif()
endfunction()

add_lister_tests(kinroll group)
add_lister_tests(folkroll passwd)

# A build for another architecture runs the tests of what its programs do, each
# program started through the emulator, and so does the sanitizer build; what
# does not change with them (manual pages, install, package, lint) is tested
# in the plain native build alone.
get_property(lister_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${lister_tests} PROPERTIES SKIP_RETURN_CODE 77)
set_property(TEST ${lister_tests} APPEND PROPERTY ENVIRONMENT "LISTER_LOCALES=${test_locales}")
if(CMAKE_CROSSCOMPILING)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    set_property(TEST ${lister_tests} APPEND PROPERTY ENVIRONMENT "LISTER_EMULATOR=${emulator}")
endif()
if(SANITIZE)
    # The stand-in, preloaded, comes before the sanitizers' runtime; and the
    # leak checker cannot work under strace, which counts the write calls.
    list(REMOVE_ITEM lister_tests kinroll.writes folkroll.writes)
    set_property(TEST ${lister_tests} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=verify_asan_link_order=0"
        "LISTER_MBRTOWC_BEGUN=$<TARGET_FILE:mbrtowc_begun>")
    set_property(TEST kinroll.writes folkroll.writes APPEND
        PROPERTY ENVIRONMENT "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0")
endif()
if(program_tests_only)
    return()
endif()

add_test(NAME install COMMAND ${tests_dir}/check-install.sh ${CMAKE_BINARY_DIR})
add_test(NAME bench COMMAND ${tests_dir}/check-bench.sh ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
# The two programs share no file, so their output path (buffer, writes,
# waiting, messages, descriptors at start, terminal display) is written in
# both, between the same two marks: a fix made in one copy alone fails here.
add_test(NAME output-path-copies
    COMMAND bash -c [=[
        part() { sed -n '/^\/\/ ---- output path: /,/^\/\/ ---- output path ends ----$/p' "$1"; }
        (($(part kinroll/kinroll.cpp | wc -l) > 100)) || { echo "FAIL: no output path between the marks"; exit 1; }
        diff -u <(part kinroll/kinroll.cpp) <(part folkroll/folkroll.cpp) ||
            { echo "FAIL: the output paths of the two programs differ"; exit 1; }
    ]=]
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
if(PACKAGE_TEST)
    add_test(NAME package COMMAND ${tests_dir}/check-package.sh ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    # Two package builds of the whole project; the rest of the suite runs beside them.
    set_tests_properties(package PROPERTIES TIMEOUT 900)
endif()

# Linters: a finding fails the test; a linter that is not installed skips it,
# saying so (.ci/run installs them all). A package build turns them off: a
# newer linter on a build machine must not decide whether the package builds.
if(NOT LINT_TESTS)
    return()
endif()
function(add_lint_test tool)
    find_program(${tool}_program ${tool})
    if(${tool}_program)
        add_test(NAME lint.${tool} COMMAND ${${tool}_program} ${ARGN}
            WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    else()
        add_test(NAME lint.${tool} COMMAND sh -c "echo 'skipped: ${tool} is not installed'; exit 77")
    endif()
endfunction()

set(programs kinroll/kinroll.cpp folkroll/folkroll.cpp)
file(GLOB cxx_files CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
    kinroll/*.cpp folkroll/*.cpp tests/*.cpp bench/*.cpp)
file(GLOB shell_scripts CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} tests/*.sh bench/*.sh)
add_lint_test(clang-format --dry-run --Werror ${cxx_files})
add_lint_test(clang-tidy --quiet -p ${CMAKE_BINARY_DIR} ${programs})
# cppcheck from 2.11 (Debian 13's) limits its analysis of branches unless
# told to be exhaustive, and says so, which fails the test; older ones know
# no such option and analyse everything.
find_program(cppcheck_program cppcheck)
set(cppcheck_exhaustive)
if(cppcheck_program)
    execute_process(COMMAND ${cppcheck_program} --check-level=exhaustive --version
        RESULT_VARIABLE cppcheck_refuses OUTPUT_QUIET ERROR_QUIET)
    if(cppcheck_refuses EQUAL 0)
        set(cppcheck_exhaustive --check-level=exhaustive)
    endif()
endif()
add_lint_test(cppcheck --error-exitcode=1 --enable=warning,style,performance,portability
    --inline-suppr --quiet --std=c++17 ${cppcheck_exhaustive} ${programs})
add_lint_test(shellcheck ${shell_scripts} .ci/run .ci/install-packages debian/tests/listings)

get_property(all_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${all_tests} PROPERTIES SKIP_RETURN_CODE 77)
