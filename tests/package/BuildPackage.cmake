# Builds the package for the package tests: cmake -DCPACK=... -DBUILD_DIR=... -DOUT_DIR=...
#   -DDPKG_DEB=... -P BuildPackage.cmake. Where dpkg-deb is missing it only says so, and ctest
#   counts the test as skipped.
if(NOT DPKG_DEB)
  message("dpkg-deb not found: the package tests are skipped")
  return()
endif()
file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT_DIR}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cpack failed")
endif()
file(GLOB debs ${OUT_DIR}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages, expected one: ${debs}")
endif()
file(REMOVE_RECURSE ${OUT_DIR}/_CPack_Packages)
