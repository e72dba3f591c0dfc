# A cross build still runs the packer and the default package's generator at
# build time, so they are built for the build machine first, from the same
# sources, in a nested build; or, with QUORVEL_HOST_TOOLS, taken from a
# native build of these sources that has them already (its tools folder).
set(QUORVEL_HOST_TOOLS "" CACHE PATH
    "Folder holding quorvel-pack, make-default-package, make-icon and make-large-package built for this machine; empty builds them")
set(host_tools quorvel-pack make-default-package make-icon make-large-package)

if(QUORVEL_HOST_TOOLS)
  set(QUORVEL_HOST_TOOLS_DIR ${QUORVEL_HOST_TOOLS})
  foreach(tool ${host_tools})
    if(NOT EXISTS ${QUORVEL_HOST_TOOLS}/${tool})
      message(FATAL_ERROR " QUORVEL_HOST_TOOLS: no ${tool} in ${QUORVEL_HOST_TOOLS}")
    endif()
    add_executable(${tool} IMPORTED GLOBAL)
    set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION ${QUORVEL_HOST_TOOLS}/${tool})
  endforeach()
  return()
endif()

include(ExternalProject)

set(host_dir ${CMAKE_BINARY_DIR}/host-tools)
set(QUORVEL_HOST_TOOLS_DIR ${host_dir}/tools)
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
