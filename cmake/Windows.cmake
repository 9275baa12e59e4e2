# What a Windows program of this project carries: the icon and version resource, and a
# static runtime so that nothing but the .exe has to be shipped.
add_link_options(-static)
# As the static Qt is built (see scripts/windows): no register assumptions across calls to
# inline functions whose copy the linker may take from another object.
add_compile_options(-fno-ipa-ra)
# The build machine's rcc compresses with zstd, which this Qt was built without.
set(CMAKE_AUTORCC_OPTIONS --no-zstd)

# torvik7_windows_resources(TARGET NAME "DESCRIPTION"): the icon and the version block.
function(torvik7_windows_resources target name description)
  set(TORVIK7_ICO ${TORVIK7_HOST_OUTPUTS}/app.ico)
  set(TORVIK7_RC_NAME ${name})
  set(TORVIK7_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/version.rc.in ${rc} @ONLY)
  # windres reads the file as the Windows code page it is told; the texts are UTF-8.
  set_source_files_properties(${rc} PROPERTIES COMPILE_OPTIONS "-c65001")
  target_sources(${target} PRIVATE ${rc})
endfunction()
