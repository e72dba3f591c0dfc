# A package image as an object library over the three files the packer
# writes beside source (see quorvel-pack --help). An object library: the
# image is linked into every program that names it, whatever order the
# linker meets the code that reads it in.
function(quorvel_package_data target source)
  get_filename_component(folder ${source} DIRECTORY)
  get_filename_component(stem ${source} NAME_WE)
  add_library(${target} OBJECT ${source} ${folder}/${stem}.S)
  # No debug lines for the data: they would carry the build folder into the
  # program. The assembler reads the data file, which no preprocessor reports.
  set_source_files_properties(${folder}/${stem}.S PROPERTIES
    COMPILE_OPTIONS "-g0"
    OBJECT_DEPENDS ${folder}/${stem}.bin)
  # Nor for the tables' C++ source, whatever the build type.
  set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "-g0")
endfunction()
