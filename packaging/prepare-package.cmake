# Run by CPack on its staging folder before it packs: Debian policy wants the
# manual pages and the changelog gzipped (-n leaves the time stamp out, so the
# package builds reproducibly). Plain installs keep the pages as they are.
set(staging "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(COPY "${CPACK_ACCOUNTROLLS_SOURCE_DIR}/packaging/changelog"
    DESTINATION "${staging}/share/doc/${CPACK_PACKAGE_NAME}")
file(GLOB pages "${staging}/share/man/man1/*.1")
foreach(file IN LISTS pages ITEMS "${staging}/share/doc/${CPACK_PACKAGE_NAME}/changelog")
    execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
