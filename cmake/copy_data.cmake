# Copies the delivered data files beside the built program, one by one, and only those
# that are not there yet: a user's phone book or settings are never overwritten.
# Called with -DSOURCE_DIR=... -DTARGET_DIR=...
file(GLOB delivered RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
file(MAKE_DIRECTORY "${TARGET_DIR}")
foreach(name IN LISTS delivered)
    if(NOT EXISTS "${TARGET_DIR}/${name}" AND NOT IS_DIRECTORY "${SOURCE_DIR}/${name}")
        file(COPY "${SOURCE_DIR}/${name}" DESTINATION "${TARGET_DIR}")
    endif()
endforeach()
