set(BK_DELAYLOAD_DIR ${CMAKE_CURRENT_LIST_DIR})

# bk_delay_import(TARGET DLL...): TARGET reaches the system DLLs named (shell32,
# shlwapi, ...) through delay-import libraries (delaylib.sh, beside this file) instead of
# their import libraries, so they are loaded on first use, not with TARGET.
function(bk_delay_import target)
    set(libraries)
    foreach(dll IN LISTS ARGN)
        set(output ${CMAKE_CURRENT_BINARY_DIR}/delay/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/delay
            COMMAND sh ${BK_DELAYLOAD_DIR}/delaylib.sh ${BK_TRIPLE} ${CMAKE_CXX_COMPILER} ${dll} ${output}
            DEPENDS ${BK_DELAYLOAD_DIR}/delaylib.sh
            COMMENT "Delay-import library for ${dll}.dll"
            VERBATIM)
        list(APPEND libraries ${output})
    endforeach()
    add_custom_target(${target}_delay_imports DEPENDS ${libraries})
    add_dependencies(${target} ${target}_delay_imports)
    # The resolver the stubs call is part of the target.
    target_sources(${target} PRIVATE ${BK_DELAYLOAD_DIR}/DelayResolve.cpp)
    target_link_libraries(${target} PRIVATE ${libraries})
endfunction()
