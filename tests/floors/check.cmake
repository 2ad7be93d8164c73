# Proves that the floors refuse upward includes: a translation unit of the tag floor that includes
# a rename header must fail to compile for want of the header, while the same unit including a tag
# header builds (so the failure is the include's, not the check's).
#   cmake -DBUILD_DIR=... -P check.cmake
foreach(case upward_include_refused downward_include_builds)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target floor_check_${case}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(output_${case} "${output}")
    set(result_${case} ${result})
endforeach()
if(result_downward_include_builds)
    message(FATAL_ERROR "a tag unit including a tag header did not build:\n${output_downward_include_builds}")
endif()
if(NOT result_upward_include_refused)
    message(FATAL_ERROR "a tag unit including rename/folderrun.h compiled: the floors leak upward")
endif()
if(NOT output_upward_include_refused MATCHES "rename/folderrun.h: No such file")
    message(FATAL_ERROR "the upward include failed for another reason:\n${output_upward_include_refused}")
endif()
message(STATUS "rename/folderrun.h is out of the tag floor's reach; tag/tagrecord.h is within it")
