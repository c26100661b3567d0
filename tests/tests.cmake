# The test suite, run by CTest. Fixture cases are data: every database file in
# tests/files/PROGRAM/ and every record file in tests/crafted/PROGRAM/ becomes a
# test of its own, checked against the files of the same name beside it.

# Stand-in for the enumeration calls, preloaded for records no file can hold.
add_library(fake_accounts MODULE tests/fake_accounts.cpp)

set(tests_dir ${CMAKE_CURRENT_SOURCE_DIR}/tests)

function(add_lister_tests program database)
    set(binary $<TARGET_FILE:${program}>)

    file(GLOB fixtures CONFIGURE_DEPENDS ${tests_dir}/files/${program}/*.${database})
    foreach(fixture IN LISTS fixtures)
        get_filename_component(case ${fixture} NAME_WLE)
        get_filename_component(dir ${fixture} DIRECTORY)
        add_test(NAME ${program}.files.${case}
            COMMAND ${tests_dir}/check-files.sh ${binary} ${database} ${fixture} ${dir}/${case}.out)
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
    add_test(NAME ${program}.faults COMMAND ${tests_dir}/check-faults.sh ${binary})
    add_test(NAME ${program}.binary COMMAND ${tests_dir}/check-binary.sh ${binary})
    add_test(NAME ${program}.manpage
        COMMAND ${tests_dir}/check-manpage.sh ${CMAKE_CURRENT_SOURCE_DIR}/${program}/${program}.1)
endfunction()

add_lister_tests(kinroll group)
add_lister_tests(folkroll passwd)

get_property(all_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${all_tests} PROPERTIES SKIP_RETURN_CODE 77)
