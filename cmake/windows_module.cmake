# Builds Vantrel_v1.3.aex with the mingw-w64 toolchain as a sub-build of the
# native one, so that one build makes both modules and the tests can load both.
# The sub-build configures only the host-interface declarations and the module.
# Sets VANTREL_AEX_PATH (empty when the Windows module is not built); include
# this before the tests so that they see it on the first configure.
set(_vantrel_root ${CMAKE_CURRENT_LIST_DIR}/..)
find_program(VANTREL_MINGW_CXX x86_64-w64-mingw32-g++)
if(VANTREL_BUILD_WINDOWS_MODULE AND VANTREL_MINGW_CXX)
  include(ExternalProject)
  set(VANTREL_AEX_DIR ${CMAKE_BINARY_DIR}/windows)
  ExternalProject_Add(vantrel_windows_module
    SOURCE_DIR ${_vantrel_root}
    BINARY_DIR ${VANTREL_AEX_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${_vantrel_root}/cmake/mingw-w64-x86_64.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DVANTREL_BUILD_HOST=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target vantrel_module
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${VANTREL_AEX_DIR}/module/Vantrel_v1.3.aex)
  set(VANTREL_AEX_PATH ${VANTREL_AEX_DIR}/module/Vantrel_v1.3.aex CACHE INTERNAL "")
else()
  message(STATUS "mingw-w64 not found or disabled: the Windows module is not built")
  set(VANTREL_AEX_PATH "" CACHE INTERNAL "")
endif()
