# Runs the asset generator into a scratch folder and compares its files with the
# committed ones byte for byte. Rebuild them with the `assets` target after changing the art.
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
execute_process(COMMAND ${ASSETGEN} ${OUT_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "assetgen failed: ${rc}")
endif()
foreach(name launcher.bmp gorlaunch.ico)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT_DIR}/${name} ${ASSET_DIR}/${name}
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${name} differs from the generator's output: run the `assets` target")
  endif()
endforeach()
message(STATUS "launcher.bmp and gorlaunch.ico equal the generator's output")
