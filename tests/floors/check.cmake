# Proves that the floors refuse includes that do not run downward: for each case, a unit of one
# floor that includes a header of a floor beside or above it must fail to compile for want of the
# header, while the same unit including a header it may see builds (so the failure is the
# include's, not the check's).
#   cmake -DBUILD_DIR=... -DCASES=case:header;... -P check.cmake
foreach(entry ${CASES})
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 case)
    list(GET parts 1 header)
    foreach(kind refused allowed)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR}
                                --target floor_check_${case}_${kind}
                        RESULT_VARIABLE result_${kind} OUTPUT_VARIABLE output_${kind}
                        ERROR_VARIABLE output_${kind})
    endforeach()
    if(result_allowed)
        message(FATAL_ERROR "${case}: a unit including its own floor's header did not build:\n${output_allowed}")
    endif()
    if(NOT result_refused)
        message(FATAL_ERROR "${case}: a unit including ${header} compiled: the floors leak")
    endif()
    if(NOT output_refused MATCHES "${header}: No such file")
        message(FATAL_ERROR "${case}: the include of ${header} failed for another reason:\n${output_refused}")
    endif()
    message(STATUS "${case}: ${header} is out of reach")
endforeach()
