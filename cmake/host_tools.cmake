# A cross build still runs the packer and the default package's generator at
# build time, so they are built for the build machine first, from the same
# sources, in a nested build.
include(ExternalProject)

set(host_dir ${CMAKE_BINARY_DIR}/host-tools)
set(host_tools quorvel-pack make-default-package make-icon)
set(host_programs)
foreach(tool ${host_tools})
  list(APPEND host_programs ${host_dir}/tools/${tool})
endforeach()

ExternalProject_Add(host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${host_dir}
  CMAKE_ARGS -DQUORVEL_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${host_programs})

foreach(tool ${host_tools})
  add_executable(${tool} IMPORTED GLOBAL)
  set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION ${host_dir}/tools/${tool})
  add_dependencies(${tool} host_tools)
endforeach()
