# Run by CPack on the staged tree before it becomes the .deb. Debian's policy wants manual pages
# and the changelog gzipped (without a time stamp, so builds repeat) and a copyright file; the
# plain install tree keeps them as they are in the repository.
set(root "${CPACK_TEMPORARY_DIRECTORY}/usr/share")
set(doc "${root}/doc/velmorquin-extractor")

function(gzip_in_place path)
    execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${path} failed")
    endif()
endfunction()

file(GLOB pages "${root}/man/man1/*.1")
foreach(page IN LISTS pages)
    gzip_in_place("${page}")
endforeach()

# A package without a Debian revision keeps its changes in changelog.gz, in Debian's format; the
# project's own CHANGELOG.md stays beside it, compressed as well.
gzip_in_place("${doc}/CHANGELOG.md")
file(WRITE "${doc}/changelog"
    "velmorquin-extractor (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${CPACK_PACKAGE_VERSION}; see CHANGELOG.md.gz.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${CPACK_VDAT_RELEASE_TIME}\n")
gzip_in_place("${doc}/changelog")
file(READ "${doc}/LICENSE" license)
file(WRITE "${doc}/copyright"
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: velmorquin-extractor\n\n"
    "Files: *\nCopyright: 2003-2026 Velmorquin Tools\nLicense: Expat\n")
string(REGEX REPLACE "\n\n" "\n.\n" body "${license}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" body "${body}")
file(APPEND "${doc}/copyright" " ${body}")
file(REMOVE "${doc}/LICENSE")
