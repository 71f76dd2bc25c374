# Version information and the application manifest of a Windows launcher, compiled by the
# MinGW resource compiler (windres) from launcher/launcher.rc.in.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SE_WINDOWS_BITS 32)
else()
  set(SE_WINDOWS_BITS 64)
endif()

function(se_add_windows_resources identity)
  set(SE_IDENTITY ${identity})
  set(SE_MANIFEST ${PROJECT_SOURCE_DIR}/launcher/launcher.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/resources/${identity}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/launcher/launcher.rc.in ${rc} @ONLY)
  # The manifest is not an #include: tell the build that the resources depend on it.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${SE_MANIFEST})
  target_sources(${identity} PRIVATE ${rc})
endfunction()
