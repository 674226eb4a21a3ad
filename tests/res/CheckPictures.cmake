# Runs draw_pictures.py into a scratch folder and fails unless every picture it writes is
# byte-identical to the one committed in res/, and every committed picture was written.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
    COMMAND "${PYTHON}" "${RES_DIR}/draw_pictures.py" --out "${WORK_DIR}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "draw_pictures.py failed: ${result}")
endif()

file(GLOB written RELATIVE "${WORK_DIR}" "${WORK_DIR}/*")
file(GLOB committed RELATIVE "${RES_DIR}" "${RES_DIR}/*.bmp" "${RES_DIR}/*.png" "${RES_DIR}/*.ico")
list(SORT written)
list(SORT committed)
if(NOT written STREQUAL committed)
    message(FATAL_ERROR "draw_pictures.py writes [${written}] but res/ holds [${committed}]")
endif()
foreach(name IN LISTS written)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/${name}" "${RES_DIR}/${name}"
        RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "${name}: the committed picture differs from what the script draws")
    endif()
endforeach()
list(LENGTH written count)
message(STATUS "${count} pictures match: ${written}")
