# bk_delay_import(TARGET DLL...): TARGET reaches the system DLLs named (shell32,
# shlwapi, ...) through delay-import libraries (cmake/delaylib.sh) instead of
# their import libraries, so they are loaded on first use, not with TARGET.
function(bk_delay_import target)
    set(libraries)
    foreach(dll IN LISTS ARGN)
        set(output ${CMAKE_CURRENT_BINARY_DIR}/delay/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/delay
            COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delaylib.sh ${BK_TRIPLE} ${CMAKE_CXX_COMPILER} ${dll} ${output}
            DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delaylib.sh
            COMMENT "Delay-import library for ${dll}.dll"
            VERBATIM)
        list(APPEND libraries ${output})
    endforeach()
    add_custom_target(${target}_delay_imports DEPENDS ${libraries})
    add_dependencies(${target} ${target}_delay_imports)
    target_link_libraries(${target} PRIVATE ${libraries})
endfunction()
